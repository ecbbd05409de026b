// The vendor's media tool: one function per subcommand.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/crypto.h"

namespace sw::mediatool {

// Each takes the arguments after the subcommand name and returns the exit code.
int json_command(const std::vector<std::string>& args);
int keygen_command(const std::vector<std::string>& args);
int sign_command(const std::vector<std::string>& args);
int inspect_command(const std::vector<std::string>& args);
int descriptor_command(const std::vector<std::string>& args);
int screen_command(const std::vector<std::string>& args);
int strings_command(const std::vector<std::string>& args);

// A secret key file (64 hexadecimal digits), or absent with the reason.
std::optional<Ed25519Seed> read_secret_key(const std::string& path, std::string& reason);

}  // namespace sw::mediatool
