#include "render/Renderer.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return varko::RunRenderTool(args, stdout, stderr);
}
