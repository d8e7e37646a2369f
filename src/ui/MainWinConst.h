// Texts and addresses of the main window that the shared text list does not hold.
#pragma once

namespace varko::text {

inline constexpr const char* OpenScaleTitle = "Open Scale";
inline constexpr const char* OpenScaleFilter = "Scala Scale File (*.scl);;All Files (*)";
inline constexpr const char* OpenModeTitle = "Open Vibration Mode File";
inline constexpr const char* OpenModeFilter = "Vibration Mode Files (*.vmod);;All Files (*)";
inline constexpr const char* ScaleArchive =
    "This will take you to the download page of the Scale Archive at the Scala web site which "
    "includes more than 3500 scales you can use with Varko.\n\nClick OK to continue.";
inline constexpr const char* ScaleArchiveUrl =
    "https://www.huygens-fokker.org/scala/downloads.html";

} // namespace varko::text
