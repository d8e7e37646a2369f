// Runs varko-render in the test's process and collects what it printed.
#pragma once

#include "Signal.h"
#include "render/Renderer.h"

#include <cstdio>
#include <string>
#include <vector>

namespace varko::test {

struct TRun {
    int Status = -1;
    std::string Out;
};

inline TRun RunTool(const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    TRun r;
    r.Status = RunRenderTool(args, out, err);
    for (std::FILE* f : {out, err}) {
        std::rewind(f);
        char buf[512];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            r.Out.append(buf, n);
        }
        std::fclose(f);
    }
    return r;
}

} // namespace varko::test
