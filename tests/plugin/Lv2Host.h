// A small LV2 host over lilv: loads the built bundle, connects every port, forges MIDI and
// patch:Set messages into the event input, runs the worker's jobs between two runs as a host's
// worker thread would, and saves and restores state. Nothing it does while the plugin runs
// allocates, so that the plugin's own allocations can be counted.
#pragma once

#include "ProcessScope.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace varko::test {

inline constexpr const char* PluginUri = "urn:varko:instrument";

struct TMidi {
    uint32_t Frame;
    std::array<uint8_t, 3> Bytes;
    uint32_t Size = 3;
};

class TUridMap {
public:
    LV2_URID Map(const char* uri) {
        const std::lock_guard lock(mutex_);
        auto [it, added] = ids_.try_emplace(uri, static_cast<LV2_URID>(uris_.size() + 1));
        if (added) {
            uris_.push_back(uri);
        }
        return it->second;
    }
    const char* Unmap(LV2_URID id) {
        const std::lock_guard lock(mutex_);
        return id >= 1 && id <= uris_.size() ? uris_[id - 1].c_str() : nullptr;
    }
    LV2_URID_Map MapFeature{this, [](LV2_URID_Map_Handle h, const char* uri) {
                                return static_cast<TUridMap*>(h)->Map(uri);
                            }};
    LV2_URID_Unmap UnmapFeature{this, [](LV2_URID_Unmap_Handle h, LV2_URID id) {
                                    return static_cast<TUridMap*>(h)->Unmap(id);
                                }};

private:
    std::mutex mutex_;
    std::map<std::string, LV2_URID> ids_;
    std::vector<std::string> uris_;
};

class TLv2Host {
public:
    static constexpr uint32_t MaxBlock = 8192;

    // bundleParent: the folder holding Varko.lv2 (the build's bin or an install's lib/lv2).
    TLv2Host(const std::string& bundleParent, double rate) : rate_(rate) {
        setenv("LV2_PATH", "/usr/lib/lv2", 1); // the LV2 vocabularies from lv2-dev
        world_ = lilv_world_new();
        lilv_world_load_all(world_);
        LilvNode* bundle =
            lilv_new_file_uri(world_, nullptr, (bundleParent + "/Varko.lv2/").c_str());
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world_, PluginUri);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        if (plugin_ == nullptr) {
            throw std::runtime_error("the plugin is not found under " + bundleParent);
        }
        midiEvent_ = urids_.Map(LV2_MIDI__MidiEvent);
        lv2_atom_forge_init(&forge_, &urids_.MapFeature);
        const int32_t maxBlock = MaxBlock, minBlock = 1;
        blockLengths_ = {maxBlock, minBlock};
        options_ = {{
            {LV2_OPTIONS_INSTANCE, 0, urids_.Map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
             urids_.Map(LV2_ATOM__Int), &blockLengths_[0]},
            {LV2_OPTIONS_INSTANCE, 0, urids_.Map(LV2_BUF_SIZE__minBlockLength), sizeof(int32_t),
             urids_.Map(LV2_ATOM__Int), &blockLengths_[1]},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
        }};
        schedule_ = {this, [](LV2_Worker_Schedule_Handle h, uint32_t size, const void* data) {
                         return static_cast<TLv2Host*>(h)->Schedule(size, data);
                     }};
        features_ = {{{LV2_URID__map, &urids_.MapFeature},
                      {LV2_URID__unmap, &urids_.UnmapFeature},
                      {LV2_OPTIONS__options, options_.data()},
                      {LV2_WORKER__schedule, &schedule_},
                      {LV2_BUF_SIZE__boundedBlockLength, nullptr}}};
        for (size_t i = 0; i < features_.size(); ++i) {
            featureList_[i] = &features_[i];
        }
        featureList_[features_.size()] = nullptr;
        instance_ = lilv_plugin_instantiate(plugin_, rate, featureList_.data());
        if (instance_ == nullptr) {
            throw std::runtime_error("the plugin did not instantiate");
        }
        worker_ = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
        ConnectPorts();
        lilv_instance_activate(instance_);
    }
    ~TLv2Host() {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
        lilv_world_free(world_);
    }
    TLv2Host(const TLv2Host&) = delete;
    TLv2Host& operator=(const TLv2Host&) = delete;

    double Rate() const { return rate_; }
    float& Control(const std::string& symbol) { return controls_.at(symbol); }

    // Asks the plugin to take a file for a path parameter ("scale" or "modes") with the next
    // run's events, as a host's file chooser does.
    void ChooseFile(const std::string& key, const std::string& path) {
        patchKey_ = std::string(PluginUri) + "#" + key;
        patchPath_ = path;
    }

    // One run of frames (1..MaxBlock) with the events (frames inside it, sorted); appends the
    // output to left and right (reserved by the caller, so that nothing here allocates). Then
    // the worker's jobs run, as the host's worker would between two runs.
    void Run(uint32_t frames, const TMidi* events, size_t count, float* left, float* right) {
        lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(eventsIn_.data()),
                                  sizeof(uint64_t) * eventsIn_.size());
        LV2_Atom_Forge_Frame sequence;
        lv2_atom_forge_sequence_head(&forge_, &sequence, 0);
        if (!patchKey_.empty()) {
            lv2_atom_forge_frame_time(&forge_, 0);
            LV2_Atom_Forge_Frame object;
            lv2_atom_forge_object(&forge_, &object, 0, urids_.Map(LV2_PATCH__Set));
            lv2_atom_forge_key(&forge_, urids_.Map(LV2_PATCH__property));
            lv2_atom_forge_urid(&forge_, urids_.Map(patchKey_.c_str()));
            lv2_atom_forge_key(&forge_, urids_.Map(LV2_PATCH__value));
            lv2_atom_forge_path(&forge_, patchPath_.c_str(),
                                static_cast<uint32_t>(patchPath_.size() + 1));
            lv2_atom_forge_pop(&forge_, &object);
            patchKey_.clear();
        }
        for (size_t i = 0; i < count; ++i) {
            lv2_atom_forge_frame_time(&forge_, events[i].Frame);
            lv2_atom_forge_atom(&forge_, events[i].Size, midiEvent_);
            lv2_atom_forge_write(&forge_, events[i].Bytes.data(), events[i].Size);
        }
        lv2_atom_forge_pop(&forge_, &sequence);
        auto* out = reinterpret_cast<LV2_Atom_Sequence*>(eventsOut_.data());
        out->atom.type = 0;
        out->atom.size =
            static_cast<uint32_t>(sizeof(uint64_t) * eventsOut_.size() - sizeof(LV2_Atom));
        lilv_instance_connect_port(instance_, audioPorts_[0], left);
        lilv_instance_connect_port(instance_, audioPorts_[1], right);
        {
            const TProcessScope inside;
            lilv_instance_run(instance_, frames);
        }
        RunWork();
    }

    // The plugin's state as the host would save it into dir (files it names are kept there).
    LilvState* Save(const std::string& dir) {
        return lilv_state_new_from_instance(
            plugin_, instance_, &urids_.MapFeature, nullptr, dir.c_str(), dir.c_str(), dir.c_str(),
            [](const char* symbol, void* self, uint32_t* size, uint32_t* type) -> const void* {
                auto* host = static_cast<TLv2Host*>(self);
                auto it = host->controls_.find(symbol);
                if (it == host->controls_.end()) {
                    return nullptr;
                }
                *size = sizeof(float);
                *type = host->urids_.Map(LV2_ATOM__Float);
                return &it->second;
            },
            this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, featureList_.data());
    }
    void Restore(const LilvState* state) {
        lilv_state_restore(
            state, instance_,
            [](const char* symbol, void* self, const void* value, uint32_t size, uint32_t) {
                auto* host = static_cast<TLv2Host*>(self);
                auto it = host->controls_.find(symbol);
                if (it != host->controls_.end() && size == sizeof(float)) {
                    std::memcpy(&it->second, value, sizeof(float));
                }
            },
            this, 0, featureList_.data());
    }
    TUridMap& Urids() { return urids_; }
    LilvWorld* World() { return world_; }

private:
    LV2_Worker_Status Schedule(uint32_t size, const void* data) {
        if (jobCount_ == jobs_.size() || size > jobs_[0].size()) {
            return LV2_WORKER_ERR_NO_SPACE;
        }
        std::memcpy(jobs_[jobCount_].data(), data, size);
        jobSizes_[jobCount_++] = size;
        return LV2_WORKER_SUCCESS;
    }
    void RunWork() {
        for (size_t i = 0; i < jobCount_ && worker_ != nullptr; ++i) {
            worker_->work(
                lilv_instance_get_handle(instance_),
                [](LV2_Worker_Respond_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; },
                nullptr, jobSizes_[i], jobs_[i].data());
        }
        jobCount_ = 0;
    }
    void ConnectPorts() {
        LilvNode* audio = lilv_new_uri(world_, LV2_CORE__AudioPort);
        LilvNode* control = lilv_new_uri(world_, LV2_CORE__ControlPort);
        LilvNode* atom = lilv_new_uri(world_, LV2_ATOM__AtomPort);
        LilvNode* input = lilv_new_uri(world_, LV2_CORE__InputPort);
        const uint32_t ports = lilv_plugin_get_num_ports(plugin_);
        std::vector<float> mins(ports), maxs(ports), defaults(ports);
        lilv_plugin_get_port_ranges_float(plugin_, mins.data(), maxs.data(), defaults.data());
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, i);
            const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin_, port));
            if (lilv_port_is_a(plugin_, port, audio)) {
                audioPorts_.push_back(i);
            } else if (lilv_port_is_a(plugin_, port, control)) {
                controls_[symbol] = std::isnan(defaults[i]) ? 0.0f : defaults[i];
            } else if (lilv_port_is_a(plugin_, port, atom)) {
                lilv_instance_connect_port(instance_, i,
                                           lilv_port_is_a(plugin_, port, input)
                                               ? static_cast<void*>(eventsIn_.data())
                                               : static_cast<void*>(eventsOut_.data()));
            }
        }
        // Connected once the map no longer changes.
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, i);
            if (lilv_port_is_a(plugin_, port, control)) {
                lilv_instance_connect_port(
                    instance_, i,
                    &controls_[lilv_node_as_string(lilv_port_get_symbol(plugin_, port))]);
            }
        }
        for (LilvNode* n : {audio, control, atom, input}) {
            lilv_node_free(n);
        }
    }

    double rate_;
    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
    TUridMap urids_;
    LV2_URID midiEvent_ = 0;
    LV2_Atom_Forge forge_{};
    std::array<int32_t, 2> blockLengths_{};
    std::array<LV2_Options_Option, 3> options_{};
    LV2_Worker_Schedule schedule_{};
    std::array<LV2_Feature, 5> features_{};
    std::array<const LV2_Feature*, 6> featureList_{};
    std::vector<uint32_t> audioPorts_;
    std::map<std::string, float> controls_;
    std::vector<uint64_t> eventsIn_ = std::vector<uint64_t>(16384);
    std::vector<uint64_t> eventsOut_ = std::vector<uint64_t>(16384);
    std::string patchKey_, patchPath_;
    std::array<std::array<uint8_t, 4096>, 8> jobs_{};
    std::array<uint32_t, 8> jobSizes_{};
    size_t jobCount_ = 0;
};

} // namespace varko::test
