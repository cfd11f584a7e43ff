#pragma once

// Link finds peers by multicast: a program that switches it on runs itself
// again inside a network namespace of its own with only the loopback
// interface, so nothing it sends leaves this machine.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace LoopbackNamespace {

constexpr const char* kInside = "MOTIFO_LINK_NAMESPACE";

inline bool inside()
{
    return std::getenv(kInside) != nullptr;
}

// Execs argv again under unshare -n; returns only when that fails.
inline int runAgainInside(int argc, char** argv)
{
    setenv(kInside, "1", 1);
    static const char* script = "ip link set lo up && ip link set lo multicast on"
                                " && ip route add 224.0.0.0/4 dev lo && exec \"$@\"";
    std::vector<char*> args = { const_cast<char*>("unshare"), const_cast<char*>("-n"), const_cast<char*>("--"),
        const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script), const_cast<char*>("sh") };
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", args.data());
    std::perror("unshare");
    return 1;
}

} // namespace LoopbackNamespace
