// The string type of the discovery functions, converted at the boundary: plain C
// text on this platform (text_posix.cpp), OLE Automation VARIANTs where hosts use them.
#pragma once

#include <string>

#include "kmtv1.h"

namespace kmt::abi {

// The text of an input string; a null or unconvertible input is the empty string.
std::string text_in(kmt_text_in text);
// Stores text into an output string, cut to what the output can hold.
void text_out(const std::string &text, kmt_text_out out);

}  // namespace kmt::abi
