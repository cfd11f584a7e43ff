#pragma once

#include <string>

namespace google::protobuf {
class Message;
}

// Reads and writes the instrument descriptor and sample pack files: one
// message in the binary wire format, no header or length prefix.
class ProtoFile
{
public:
    // Parses the whole file into msg. Returns 1 when the file cannot be
    // opened. A file that does not parse is not an error: the fields decoded
    // before the fault are kept and the rest keep their defaults.
    static int read(const std::string& path, google::protobuf::Message& msg);

    // Returns 0 on success, 1 (with a log line) when the file cannot be written.
    static int write(const std::string& path, const google::protobuf::Message& msg);

    // Fills msg from a readable description: JSON when the text starts with
    // '{', protobuf text format otherwise. Returns 0, or 1 with the reason in
    // error.
    static int parseDescription(const std::string& text, google::protobuf::Message& msg,
        std::string& error);

    // The message as indented JSON, for inspecting files.
    static std::string toJson(const google::protobuf::Message& msg);
};
