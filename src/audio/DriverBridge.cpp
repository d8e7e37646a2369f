#include "audio/DriverBridge.h"

namespace varko {

TDriverBridge::TDriverBridge(const TAsioDriverRecord& record) {
    if (record.Create) {
        FDriver = record.Create();
    }
}

TDriverBridge::~TDriverBridge() = default;

ASIOBool TDriverBridge::init(void* sysHandle) {
    return FDriver ? FDriver->init(sysHandle) : ASIOFalse;
}

void TDriverBridge::getDriverName(char* name) {
    if (FDriver) {
        FDriver->getDriverName(name);
    } else if (name) {
        name[0] = 0;
    }
}

int32_t TDriverBridge::getDriverVersion() {
    return FDriver ? FDriver->getDriverVersion() : 0;
}

void TDriverBridge::getErrorMessage(char* string) {
    if (FDriver) {
        FDriver->getErrorMessage(string);
    } else if (string) {
        string[0] = 0;
    }
}

ASIOError TDriverBridge::start() {
    return FDriver ? FDriver->start() : ASE_NotPresent;
}
ASIOError TDriverBridge::stop() {
    return FDriver ? FDriver->stop() : ASE_NotPresent;
}

ASIOError TDriverBridge::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    return FDriver ? FDriver->getChannels(numInputChannels, numOutputChannels) : ASE_NotPresent;
}

ASIOError TDriverBridge::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    return FDriver ? FDriver->getLatencies(inputLatency, outputLatency) : ASE_NotPresent;
}

ASIOError TDriverBridge::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                       int32_t* granularity) {
    return FDriver ? FDriver->getBufferSize(minSize, maxSize, preferredSize, granularity)
                   : ASE_NotPresent;
}

ASIOError TDriverBridge::canSampleRate(ASIOSampleRate sampleRate) {
    return FDriver ? FDriver->canSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError TDriverBridge::getSampleRate(ASIOSampleRate* sampleRate) {
    return FDriver ? FDriver->getSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError TDriverBridge::setSampleRate(ASIOSampleRate sampleRate) {
    return FDriver ? FDriver->setSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError TDriverBridge::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    return FDriver ? FDriver->getClockSources(clocks, numSources) : ASE_NotPresent;
}

ASIOError TDriverBridge::setClockSource(int32_t reference) {
    return FDriver ? FDriver->setClockSource(reference) : ASE_NotPresent;
}

ASIOError TDriverBridge::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    return FDriver ? FDriver->getSamplePosition(sPos, tStamp) : ASE_NotPresent;
}

ASIOError TDriverBridge::getChannelInfo(ASIOChannelInfo* info) {
    return FDriver ? FDriver->getChannelInfo(info) : ASE_NotPresent;
}

ASIOError TDriverBridge::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                       int32_t bufferSize, ASIOCallbacks* callbacks) {
    return FDriver ? FDriver->createBuffers(bufferInfos, numChannels, bufferSize, callbacks)
                   : ASE_NotPresent;
}

ASIOError TDriverBridge::disposeBuffers() {
    return FDriver ? FDriver->disposeBuffers() : ASE_NotPresent;
}
ASIOError TDriverBridge::controlPanel() {
    return FDriver ? FDriver->controlPanel() : ASE_NotPresent;
}

ASIOError TDriverBridge::future(int32_t selector, void* opt) {
    return FDriver ? FDriver->future(selector, opt) : ASE_NotPresent;
}

ASIOError TDriverBridge::outputReady() {
    return FDriver ? FDriver->outputReady() : ASE_NotPresent;
}

} // namespace varko
