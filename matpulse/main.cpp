#include <iostream>

#include "options.h"

int main(int argc, char** argv) {
  CLI::App app{"Quelvan GEMM performance benchmark.", ""};
  app_add_option(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, std::cout, std::cerr);
  }
  return run_matpulse(app);
}
