#include "core/tokenizer.h"

std::vector<std::string> Tokenizer::split(std::string_view text, std::string_view delimiters)
{
    std::vector<std::string> tokens;
    std::size_t start = text.find_first_not_of(delimiters);
    while (start != std::string_view::npos) {
        const std::size_t end = text.find_first_of(delimiters, start);
        tokens.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos)
            break;
        start = text.find_first_not_of(delimiters, end);
    }
    return tokens;
}
