#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvona::platform {

// How a child program ended and what it wrote.
struct ChildOutcome {
  int exit_code = -1;  // -1 when a signal ended it
  std::string output;  // its standard output, cut to the limit asked for
};

// Runs the program at `program` with `arguments` after its name and waits
// for it to end. It reads `input` as its standard input and writes its
// standard output into memory files, so it never waits for us, and nothing
// it leaves running can keep us waiting once it has exited; standard error
// is ours; no other descriptor of this process reaches it. nullopt when it
// cannot be started or waited for; a child is never left running or
// unreaped, and it is killed when the thread that started it ends (the
// host killed, say), so a dialog never outlives its caller.
//
// With `hangup` (a descriptor of this process, the host's input), the child
// is also killed as soon as that descriptor hangs up: the caller is gone and
// nobody waits for the answer. Nothing is read from it, so requests waiting
// there stay for whoever reads them; a regular file never hangs up. Then,
// or when it has hung up already, the result is nullopt.
std::optional<ChildOutcome> RunChild(const std::string& program,
                                     std::span<const std::string> arguments,
                                     std::string_view input, size_t output_limit,
                                     int hangup = -1);

}  // namespace tarvona::platform
