// "--autoteste": checks what the program needs and what this session offers, one line each.
#pragma once

namespace velorin {

// 0 when the program can run here; 1 otherwise.
int ExecutarAutoteste();

}  // namespace velorin
