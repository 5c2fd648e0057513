// A test harness's fork server: a process that has read its standard input
// to the end forks one child per request, each child reading, running and
// writing as a fresh process would from the state its parent reached.
#pragma once

namespace zuv::fork_server {

// Called where redirected standard input has ended. Without the environment
// variable ZUV_FORK_SERVER (the number of a Unix socket the harness passed
// down) it answers false at once: the input has ended. With it, the process
// serves the harness's requests: each brings three descriptors that become
// a child's standard input, output and error; the child answers true (its
// new input is to be read), while the server sends back the child's id and,
// once it has ended, its wait status, and answers false when the harness
// closes the socket.
bool serve_at_end();

}  // namespace zuv::fork_server
