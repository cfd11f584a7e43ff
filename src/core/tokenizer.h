#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits a text into the maximal runs of non-delimiter characters; no empty
// tokens ("setTempo->-3" with "->" gives "setTempo" and "3").
class Tokenizer
{
public:
    static std::vector<std::string> split(std::string_view text, std::string_view delimiters);
};
