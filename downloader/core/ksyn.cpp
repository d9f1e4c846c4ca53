#include "core/ksyn.h"

namespace tk {

KsynRestart ksynRestartFrom(bool restartApp, bool restartDevice)
{
    if (restartApp)
        return KsynRestart::Application;
    if (restartDevice)
        return KsynRestart::Device;
    return KsynRestart::None;
}

std::string buildKsynFrame(const std::string& fileName, bool partial, KsynRestart restart)
{
    std::string frame;
    frame.reserve(fileName.size() + 12);
    frame += kStx;
    frame += "KSYN";
    frame += kFs;
    frame += fileName;
    frame += kFs;
    frame += partial ? 'P' : 'F';
    frame += kFs;
    switch (restart) {
    case KsynRestart::Application: frame += '1'; break;
    case KsynRestart::Device: frame += '2'; break;
    case KsynRestart::None: break;
    }
    frame += kEtx;
    return frame;
}

char CalculateLRC(const std::string& strInString)
{
    unsigned char lrc = 0;
    for (std::size_t i = 1; i < strInString.size(); ++i)
        lrc ^= static_cast<unsigned char>(strInString[i]);
    return static_cast<char>(lrc);
}

std::string ksynPacket(const std::string& frame)
{
    return frame + CalculateLRC(frame);
}

bool isKsynAck(const std::string& reply)
{
    return !reply.empty() && reply.front() == kAck;
}

int ksynEffectiveTimeout(int setTimeout)
{
    return setTimeout == 0 ? kKsynDefaultTimeout : setTimeout;
}

KsynTick ksynTick(int count, int setTimeout)
{
    const long long limit = static_cast<long long>(ksynEffectiveTimeout(setTimeout)) * 10;
    if (count < limit)
        return {false, static_cast<int>(count * 100LL / limit)};
    return {true, 100};
}

} // namespace tk
