#pragma once

#include <json/value.h>
#include <string>
#include <vector>

class Instrument;

// One group directory of the instrument library: its metadata-only
// instruments in scan order, its logo and the four colours of group.dat.
class InstrumentGroup
{
public:
    // Reads dir + "/group.dat" when there is one.
    explicit InstrumentGroup(const std::string& dir);
    ~InstrumentGroup();

    InstrumentGroup(const InstrumentGroup&) = delete;
    InstrumentGroup& operator=(const InstrumentGroup&) = delete;

    // Takes ownership.
    void addInstrument(Instrument* instrument) { m_instruments.push_back(instrument); }
    const std::vector<Instrument*>& instruments() const { return m_instruments; }

    const std::string& name() const { return m_name; }
    const std::string& logo() const { return m_logo; }
    const std::string& colourHeader() const { return m_colourHeader; }
    const std::string& colourHeaderBorder() const { return m_colourHeaderBorder; }
    const std::string& colourInstrument() const { return m_colourInstrument; }
    const std::string& colourInstrumentBorder() const { return m_colourInstrumentBorder; }

    void toJson(Json::Value& root) const;

private:
    std::vector<Instrument*> m_instruments;
    std::string m_name;
    std::string m_logo;
    std::string m_colourHeader;
    std::string m_colourHeaderBorder;
    std::string m_colourInstrument;
    std::string m_colourInstrumentBorder;
};
