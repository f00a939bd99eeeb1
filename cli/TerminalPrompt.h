#pragma once

#include "PasswordReader.h"

#include <string>

namespace brasko::cli {

// Asks for the password on the controlling terminal with its echo off. Whatever ends the prompt (a line end,
// the end of input, an error, or a signal that ends or stops the program) gives the terminal its echo back.
// False with a German explanation in strError when there is no terminal or no line was entered.
bool PromptOnTerminal(CSecretText& password, std::string& strError);

} // namespace brasko::cli
