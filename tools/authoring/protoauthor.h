#pragma once

#include <string>

namespace google::protobuf {
class Message;
}

// The authoring side of the instrument descriptor and sample pack files,
// which the engine only reads (formats/protofile.h): writes a message as the
// file, and converts it from and to readable text.
class ProtoAuthor
{
public:
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
