#pragma once

// The content folder (instruments, drum loops, fonts, pictures), relative to
// the working directory: the shell changes into the folder that holds it at
// start-up.
constexpr const char* ZUB_RESOURCE_DIR = "res";
