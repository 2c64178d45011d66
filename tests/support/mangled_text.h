#pragma once
// Texts as a broken or hostile peer might send them: a good text with a
// few random changes (bytes flipped, dropped, repeated, markup and numbers
// put in), reproducibly from a seeded generator.
#include <random>
#include <string>

std::string mangled(const std::string& text, std::mt19937& random);
