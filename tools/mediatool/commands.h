// The vendor's media tool: one function per subcommand.
#pragma once

#include <string>
#include <vector>

namespace sw::mediatool {

// Each takes the arguments after the subcommand name and returns the exit code.
int json_command(const std::vector<std::string>& args);
int keygen_command(const std::vector<std::string>& args);
int sign_command(const std::vector<std::string>& args);
int inspect_command(const std::vector<std::string>& args);

}  // namespace sw::mediatool
