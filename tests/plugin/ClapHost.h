// A small CLAP host over the plugin ABI alone: dlopen, clap_entry, the plugin factory, one
// instance activated at a rate, raw MIDI events at their frames, and the state extension.
#pragma once

#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/host.h"
#include "clap/plugin-factory.h"
#include "clap/plugin.h"
#include "clap/process.h"

#include "Lv2Host.h"

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace varko::test {

class TClapHost {
public:
    TClapHost(const std::string& path, double rate) {
        library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
        entry_ = static_cast<const clap_plugin_entry_t*>(dlsym(library_, "clap_entry"));
        if (entry_ == nullptr || !entry_->init(path.c_str())) {
            throw std::runtime_error("no clap_entry, or it did not start");
        }
        const auto* factory =
            static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
        if (factory == nullptr || factory->get_plugin_count(factory) != 1) {
            throw std::runtime_error("no plugin factory with one plugin");
        }
        const clap_plugin_descriptor_t* descriptor = factory->get_plugin_descriptor(factory, 0);
        Id = descriptor->id;
        plugin_ = factory->create_plugin(factory, &host_, descriptor->id);
        if (plugin_ == nullptr || !plugin_->init(plugin_)) {
            throw std::runtime_error("the plugin did not start");
        }
        if (!plugin_->activate(plugin_, rate, 1, 8192) || !plugin_->start_processing(plugin_)) {
            throw std::runtime_error("the plugin did not activate");
        }
        params_ = static_cast<const clap_plugin_params_t*>(
            plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
        state_ = static_cast<const clap_plugin_state_t*>(
            plugin_->get_extension(plugin_, CLAP_EXT_STATE));
    }
    ~TClapHost() {
        plugin_->stop_processing(plugin_);
        plugin_->deactivate(plugin_);
        plugin_->destroy(plugin_);
        entry_->deinit();
        dlclose(library_);
    }
    TClapHost(const TClapHost&) = delete;
    TClapHost& operator=(const TClapHost&) = delete;

    // A parameter change with the next process call, at its first frame.
    void SetParameter(uint32_t id, double value) {
        clap_event_param_value_t& p = paramEvents_[paramCount_++];
        p = {};
        p.header = {sizeof p, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        p.param_id = id;
        p.note_id = -1;
        p.port_index = -1;
        p.channel = -1;
        p.key = -1;
        p.value = value;
    }
    double Parameter(uint32_t id) {
        double v = 0.0;
        params_->get_value(plugin_, id, &v);
        return v;
    }

    // One process call of frames with the events (sorted); nothing here allocates.
    void Process(uint32_t frames, const TMidi* events, size_t count, float* left, float* right) {
        size_t n = 0;
        for (size_t i = 0; i < paramCount_; ++i) {
            eventList_[n++] = &paramEvents_[i].header;
        }
        for (size_t i = 0; i < count && n < eventList_.size(); ++i) {
            clap_event_midi_t& m = midiEvents_[i];
            m.header = {sizeof m, events[i].Frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
            m.port_index = 0;
            std::memcpy(m.data, events[i].Bytes.data(), 3);
            eventList_[n++] = &m.header;
        }
        paramCount_ = 0;
        eventCount_ = n;
        float* channels[2] = {left, right};
        clap_audio_buffer_t out{};
        out.data32 = channels;
        out.channel_count = 2;
        clap_process_t p{};
        p.steady_time = -1;
        p.frames_count = frames;
        p.audio_outputs = &out;
        p.audio_outputs_count = 1;
        p.in_events = &inEvents_;
        p.out_events = &outEvents_;
        const TProcessScope inside;
        plugin_->process(plugin_, &p);
    }

    std::string SaveState() {
        std::string bytes;
        clap_ostream_t out{&bytes, [](const clap_ostream_t* s, const void* data, uint64_t size) {
                               static_cast<std::string*>(s->ctx)->append(
                                   static_cast<const char*>(data), size);
                               return static_cast<int64_t>(size);
                           }};
        if (!state_->save(plugin_, &out)) {
            throw std::runtime_error("state not saved");
        }
        return bytes;
    }
    bool LoadState(const std::string& bytes) {
        struct TReader {
            const std::string* Bytes;
            size_t At = 0;
        } reader{&bytes};
        clap_istream_t in{&reader, [](const clap_istream_t* s, void* data, uint64_t size) {
                              auto* r = static_cast<TReader*>(s->ctx);
                              const size_t n = std::min<size_t>(size, r->Bytes->size() - r->At);
                              std::memcpy(data, r->Bytes->data() + r->At, n);
                              r->At += n;
                              return static_cast<int64_t>(n);
                          }};
        return state_->load(plugin_, &in);
    }

    std::string Id;

private:
    void* library_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* params_ = nullptr;
    const clap_plugin_state_t* state_ = nullptr;
    clap_host_t host_{CLAP_VERSION_INIT,
                      this,
                      "Varko test host",
                      "Varko",
                      "",
                      "1",
                      [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                      [](const clap_host_t*) {},
                      [](const clap_host_t*) {},
                      [](const clap_host_t*) {}};
    std::array<clap_event_midi_t, 1024> midiEvents_{};
    std::array<clap_event_param_value_t, 64> paramEvents_{};
    size_t paramCount_ = 0;
    std::array<const clap_event_header_t*, 1088> eventList_{};
    size_t eventCount_ = 0;
    clap_input_events_t inEvents_{this,
                                  [](const clap_input_events_t* l) {
                                      return static_cast<uint32_t>(
                                          static_cast<TClapHost*>(l->ctx)->eventCount_);
                                  },
                                  [](const clap_input_events_t* l, uint32_t i) {
                                      return static_cast<TClapHost*>(l->ctx)->eventList_[i];
                                  }};
    clap_output_events_t outEvents_{
        this, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
};

} // namespace varko::test
