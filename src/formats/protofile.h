#pragma once

#include <string>

namespace google::protobuf {
class Message;
}

// Reads the instrument descriptor and sample pack files: one message in the
// binary wire format, no header or length prefix. (They are written by the
// authoring tool, never by the program.)
class ProtoFile
{
public:
    // Parses the whole file into msg. Returns 1 when the file cannot be
    // opened. A file that does not parse is not an error: the fields decoded
    // before the fault are kept and the rest keep their defaults.
    static int read(const std::string& path, google::protobuf::Message& msg);
};
