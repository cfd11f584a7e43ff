// Writes instrument descriptors ("instrument.zimbo") and sample packs
// ("samplepack.zsfb") from a readable description in JSON or protobuf text
// format, and prints existing files back as JSON.
//
//   zubauthor samplepack DESCRIPTION OUT.zsfb
//   zubauthor instrument DESCRIPTION OUT.zimbo
//   zubauthor dump samplepack|instrument FILE
//
// DESCRIPTION is a file name, or "-" for standard input. Field names are the
// schema's (start_key, root_key, adsr_params ...); enums are given by name.

#include "authoring/protoauthor.h"
#include "formats/protofile.h"
#include "proto/samplepack.pb.h"
#include "proto/zubinstrument.pb.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: zubauthor samplepack DESCRIPTION OUT.zsfb\n"
                 "       zubauthor instrument DESCRIPTION OUT.zimbo\n"
                 "       zubauthor dump samplepack|instrument FILE\n"
                 "DESCRIPTION is JSON or protobuf text format; \"-\" reads standard input.\n";
    return 2;
}

std::unique_ptr<google::protobuf::Message> messageFor(const std::string& kind)
{
    if (kind == "samplepack")
        return std::make_unique<Quavertone::SamplePack>();
    if (kind == "instrument")
        return std::make_unique<Quavertone::ZubInstrument>();
    return nullptr;
}

bool readText(const std::string& path, std::string& text)
{
    std::ostringstream buffer;
    if (path == "-") {
        buffer << std::cin.rdbuf();
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        buffer << in.rdbuf();
    }
    text = buffer.str();
    return true;
}

// Mistakes that still make a valid file but not the intended instrument.
void warnAboutPack(const Quavertone::SamplePack& pack, const std::filesystem::path& dir)
{
    for (int i = 0; i < pack.zone_size(); ++i) {
        const auto& zone = pack.zone(i);
        const std::string where = "zone " + std::to_string(i) + ": ";
        if (zone.filename().empty())
            std::cerr << where << "no filename, the zone plays silence\n";
        else if (!std::filesystem::exists(dir / zone.filename()))
            std::cerr << where << zone.filename() << " is not beside the pack\n";
        if (zone.start_key() > zone.end_key())
            std::cerr << where << "start_key is above end_key, the zone covers no key\n";
        if (zone.root_key() < 0 || zone.root_key() > 127)
            std::cerr << where << "root_key outside 0..127\n";
    }
}

int dump(const std::string& kind, const std::string& path)
{
    auto msg = messageFor(kind);
    if (!msg)
        return usage();
    if (ProtoFile::read(path, *msg) != 0) {
        std::cerr << "cannot open " << path << "\n";
        return 1;
    }
    std::cout << ProtoAuthor::toJson(*msg);
    return 0;
}

int author(const std::string& kind, const std::string& descriptionPath, const std::string& out)
{
    auto msg = messageFor(kind);
    if (!msg)
        return usage();
    std::string text;
    if (!readText(descriptionPath, text)) {
        std::cerr << "cannot read " << descriptionPath << "\n";
        return 1;
    }
    std::string error;
    if (ProtoAuthor::parseDescription(text, *msg, error) != 0) {
        std::cerr << descriptionPath << ": " << error << "\n";
        return 1;
    }
    if (kind == "samplepack")
        warnAboutPack(static_cast<const Quavertone::SamplePack&>(*msg),
            std::filesystem::path(out).parent_path());
    return ProtoAuthor::write(out, *msg);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return usage();
    const std::string command = argv[1];
    if (command == "dump")
        return dump(argv[2], argv[3]);
    return author(command, argv[2], argv[3]);
}
