#include "audio/DriverBridge.h"

namespace varko {

TDriverBridge::TDriverBridge(const TAsioDriverRecord& record) {
    if (record.Create) {
        driver_ = record.Create();
    }
}

TDriverBridge::~TDriverBridge() = default;

ASIOBool TDriverBridge::init(void* sysHandle) {
    return driver_ ? driver_->init(sysHandle) : ASIOFalse;
}

void TDriverBridge::getDriverName(char* name) {
    if (driver_) {
        driver_->getDriverName(name);
    } else if (name) {
        name[0] = 0;
    }
}

int32_t TDriverBridge::getDriverVersion() {
    return driver_ ? driver_->getDriverVersion() : 0;
}

void TDriverBridge::getErrorMessage(char* string) {
    if (driver_) {
        driver_->getErrorMessage(string);
    } else if (string) {
        string[0] = 0;
    }
}

ASIOError TDriverBridge::start() {
    return driver_ ? driver_->start() : ASE_NotPresent;
}
ASIOError TDriverBridge::stop() {
    return driver_ ? driver_->stop() : ASE_NotPresent;
}

ASIOError TDriverBridge::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    return driver_ ? driver_->getChannels(numInputChannels, numOutputChannels) : ASE_NotPresent;
}

ASIOError TDriverBridge::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    return driver_ ? driver_->getLatencies(inputLatency, outputLatency) : ASE_NotPresent;
}

ASIOError TDriverBridge::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                       int32_t* granularity) {
    return driver_ ? driver_->getBufferSize(minSize, maxSize, preferredSize, granularity)
                   : ASE_NotPresent;
}

ASIOError TDriverBridge::canSampleRate(ASIOSampleRate sampleRate) {
    return driver_ ? driver_->canSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError TDriverBridge::getSampleRate(ASIOSampleRate* sampleRate) {
    return driver_ ? driver_->getSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError TDriverBridge::setSampleRate(ASIOSampleRate sampleRate) {
    return driver_ ? driver_->setSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError TDriverBridge::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    return driver_ ? driver_->getClockSources(clocks, numSources) : ASE_NotPresent;
}

ASIOError TDriverBridge::setClockSource(int32_t reference) {
    return driver_ ? driver_->setClockSource(reference) : ASE_NotPresent;
}

ASIOError TDriverBridge::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    return driver_ ? driver_->getSamplePosition(sPos, tStamp) : ASE_NotPresent;
}

ASIOError TDriverBridge::getChannelInfo(ASIOChannelInfo* info) {
    return driver_ ? driver_->getChannelInfo(info) : ASE_NotPresent;
}

ASIOError TDriverBridge::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                       int32_t bufferSize, ASIOCallbacks* callbacks) {
    return driver_ ? driver_->createBuffers(bufferInfos, numChannels, bufferSize, callbacks)
                   : ASE_NotPresent;
}

ASIOError TDriverBridge::disposeBuffers() {
    return driver_ ? driver_->disposeBuffers() : ASE_NotPresent;
}
ASIOError TDriverBridge::controlPanel() {
    return driver_ ? driver_->controlPanel() : ASE_NotPresent;
}

ASIOError TDriverBridge::future(int32_t selector, void* opt) {
    return driver_ ? driver_->future(selector, opt) : ASE_NotPresent;
}

ASIOError TDriverBridge::outputReady() {
    return driver_ ? driver_->outputReady() : ASE_NotPresent;
}

} // namespace varko
