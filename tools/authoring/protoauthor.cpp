#include "authoring/protoauthor.h"

#include "core/log.h"

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <fstream>

namespace {
// Collects text-format parse errors instead of letting protobuf log them.
class ErrorCollector : public google::protobuf::io::ErrorCollector
{
public:
    void AddError(int line, int column, const std::string& message) override
    {
        if (m_text.empty())
            m_text = "line " + std::to_string(line + 1) + ", column " + std::to_string(column + 1)
                + ": " + message;
    }
    std::string m_text;
};
} // namespace

int ProtoAuthor::write(const std::string& path, const google::protobuf::Message& msg)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !msg.SerializeToOstream(&out)) {
        logInfo() << "Failed to write " << path;
        return 1;
    }
    out.close();
    if (!out) {
        logInfo() << "Failed to write " << path;
        return 1;
    }
    return 0;
}

int ProtoAuthor::parseDescription(const std::string& text, google::protobuf::Message& msg,
    std::string& error)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '{') {
        const auto status = google::protobuf::util::JsonStringToMessage(text, &msg);
        if (!status.ok()) {
            error = status.ToString();
            return 1;
        }
        return 0;
    }
    ErrorCollector errors;
    google::protobuf::TextFormat::Parser parser;
    parser.RecordErrorsTo(&errors);
    if (!parser.ParseFromString(text, &msg)) {
        error = errors.m_text.empty() ? "cannot parse description" : errors.m_text;
        return 1;
    }
    return 0;
}

std::string ProtoAuthor::toJson(const google::protobuf::Message& msg)
{
    google::protobuf::util::JsonPrintOptions options;
    options.add_whitespace = true;
    options.preserve_proto_field_names = true;
    std::string json;
    (void)google::protobuf::util::MessageToJsonString(msg, &json, options);
    return json;
}
