#include "instruments/instrumentgroup.h"

#include "core/log.h"
#include "instruments/instrument.h"

#include <fstream>

InstrumentGroup::InstrumentGroup(const std::string& dir)
    : m_name(dir)
    , m_logo("../../" + dir + "/logo.png")
{
    const std::string path = dir + "/group.dat";
    std::ifstream in(path);
    if (!in)
        return;
    logDebug() << "reading group metadata... " << path;
    // Lines missing at the end leave their colours empty.
    for (std::string* colour : { &m_colourHeader, &m_colourHeaderBorder, &m_colourInstrument,
             &m_colourInstrumentBorder }) {
        if (!std::getline(in, *colour))
            break;
        if (!colour->empty() && colour->back() == '\r')
            colour->pop_back();
    }
}

InstrumentGroup::~InstrumentGroup()
{
    for (Instrument* instrument : m_instruments)
        delete instrument;
}

void InstrumentGroup::toJson(Json::Value& root) const
{
    Json::Value& group = root["instrument_group"];
    group["name"] = m_name;
    Json::Value& instruments = group["instruments"] = Json::Value(Json::arrayValue);
    for (const Instrument* instrument : m_instruments) {
        Json::Value element;
        instrument->toJson(element);
        instruments.append(element["instrument"]);
    }
    group["logo"] = m_logo;
    group["colour_header"] = m_colourHeader;
    group["colour_header_border"] = m_colourHeaderBorder;
    group["colour_instrument"] = m_colourInstrument;
    group["colour_instrument_border"] = m_colourInstrumentBorder;
}
