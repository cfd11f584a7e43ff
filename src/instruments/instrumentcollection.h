#pragma once

#include "core/resourcedir.h"

#include <json/value.h>
#include <map>
#include <string>
#include <vector>

class InstrumentGroup;
class NativeAudioManagerInterface;

// The catalogue of every instrument the user can choose: the groups below
// res/instruments with their instruments' metadata, the live inputs, and the
// directory of every instrument id. Built once on the thread that drives the
// engine; the audio thread never touches it.
class InstrumentCollection
{
public:
    // Takes the input device names (audio may be null), then scans
    // resDir + "/instruments".
    explicit InstrumentCollection(NativeAudioManagerInterface* audio, const std::string& resDir = ZUB_RESOURCE_DIR);
    ~InstrumentCollection();

    InstrumentCollection(const InstrumentCollection&) = delete;
    InstrumentCollection& operator=(const InstrumentCollection&) = delete;

    // The directory of the instrument read last with this id, or "".
    std::string pathForId(int id) const;
    void toJson(Json::Value& root) const;

    const std::vector<InstrumentGroup*>& groups() const { return m_groups; }
    InstrumentGroup* inputGroup() const { return m_pInputGroup; }

private:
    void readGroup(const std::string& dir);
    void readInstrument(const std::string& dir, InstrumentGroup& group);

    std::vector<InstrumentGroup*> m_groups;
    std::map<int, std::string> m_paths;
    InstrumentGroup* m_pInputGroup = nullptr;
    std::vector<std::string> m_inputDeviceNames;
};
