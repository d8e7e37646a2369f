// What the plugin framework builds Varko as: a stereo instrument with MIDI in, no window of its
// own (the host shows the parameters and offers file choosers for the scale and the mode file).
#pragma once

#define DISTRHO_PLUGIN_NAME "Varko"
#define DISTRHO_PLUGIN_URI "urn:varko:instrument"
#define DISTRHO_PLUGIN_CLAP_ID "varko.instrument"

#define DISTRHO_PLUGIN_HAS_UI 0
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_IS_SYNTH 1
#define DISTRHO_PLUGIN_NUM_INPUTS 0
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
#define DISTRHO_PLUGIN_WANT_MIDI_INPUT 1
#define DISTRHO_PLUGIN_WANT_STATE 1
#define DISTRHO_PLUGIN_WANT_FULL_STATE 1
#define DISTRHO_PLUGIN_WANT_LATENCY 1

#define DISTRHO_PLUGIN_LV2_CATEGORY "lv2:InstrumentPlugin"
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Instrument|Synth"
#define DISTRHO_PLUGIN_CLAP_FEATURES "instrument", "synthesizer", "stereo"
