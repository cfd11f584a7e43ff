#include "formats/protofile.h"

#include <google/protobuf/message.h>

#include <fstream>

int ProtoFile::read(const std::string& path, google::protobuf::Message& msg)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return 1;
    // A parse failure is deliberately ignored: the message keeps what was decoded.
    msg.ParsePartialFromIstream(&in);
    return 0;
}
