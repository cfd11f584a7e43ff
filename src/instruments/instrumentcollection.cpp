#include "instruments/instrumentcollection.h"

#include "core/log.h"
#include "core/nativeaudiomanagerinterface.h"
#include "instruments/instrument.h"
#include "instruments/instrumentgroup.h"
#include "proto/zubinstrument.pb.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace {

bool lessIgnoringCase(const std::string& a, const std::string& b)
{
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
        [&](unsigned char x, unsigned char y) { return lower(x) < lower(y); });
    const bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
        [&](unsigned char x, unsigned char y) { return lower(x) < lower(y); });
    // Names equal but for case still get a fixed order.
    return less || (!greater && a < b);
}

// Entry names of dir in ascending order ignoring case; false when dir
// cannot be listed (a file, or missing).
bool listDirectory(const std::string& dir, std::vector<std::string>& names)
{
    std::error_code error;
    std::filesystem::directory_iterator it(dir, error);
    if (error)
        return false;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error)
            return false;
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), lessIgnoringCase);
    return true;
}

} // namespace

InstrumentCollection::InstrumentCollection(NativeAudioManagerInterface* audio, const std::string& resDir)
{
    if (audio)
        m_inputDeviceNames = audio->inputDeviceNames();
    const std::string root = resDir + "/instruments";
    std::vector<std::string> names;
    if (!listDirectory(root, names))
        return;
    for (const std::string& name : names)
        readGroup(root + "/" + name);
}

InstrumentCollection::~InstrumentCollection()
{
    for (InstrumentGroup* group : m_groups)
        delete group;
}

void InstrumentCollection::readGroup(const std::string& dir)
{
    logDebug() << "Reading instrument group directory: " << dir;
    std::vector<std::string> names;
    if (!listDirectory(dir, names))
        return;
    auto* group = new InstrumentGroup(dir);
    for (const std::string& name : names)
        readInstrument(dir + "/" + name, *group);
    if (dir.ends_with("inputdevices")) {
        for (std::size_t i = 0; i < m_inputDeviceNames.size(); ++i) {
            auto* input = Instrument::catalogueEntry();
            input->setInputDevice(static_cast<int>(i), m_inputDeviceNames[i]);
            group->addInstrument(input);
        }
        m_pInputGroup = group;
    }
    if (group->instruments().empty()) {
        if (m_pInputGroup == group)
            m_pInputGroup = nullptr;
        delete group;
        return;
    }
    m_groups.push_back(group);
}

void InstrumentCollection::readInstrument(const std::string& dir, InstrumentGroup& group)
{
    logDebug() << "Reading instrument directory: " << dir;
    // A group folder also holds its own files and the live inputs' pictures:
    // only a folder with a descriptor is an instrument, and only a descriptor
    // that cannot be read is worth a line in an ordinary log.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(dir + "/instrument.zimbo", ec))
        return;
    auto* instrument = Instrument::catalogueEntry();
    Quavertone::ZubInstrument descriptor;
    if (!instrument->readDescriptor(dir, descriptor)) {
        delete instrument;
        return;
    }
    logDebug() << "Added instrument to collection: " << instrument->name();
    group.addInstrument(instrument);
    m_paths[instrument->id()] = dir;
}

std::string InstrumentCollection::pathForId(int id) const
{
    const auto it = m_paths.find(id);
    return it == m_paths.end() ? std::string() : it->second;
}

void InstrumentCollection::toJson(Json::Value& root) const
{
    Json::Value& groups = root["instrument_collection"]["instrument_groups"] = Json::Value(Json::arrayValue);
    for (const InstrumentGroup* group : m_groups) {
        Json::Value element;
        group->toJson(element);
        groups.append(element["instrument_group"]);
    }
}
