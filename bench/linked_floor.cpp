// A program that does nothing but is linked against libexiv2 exactly as
// photomap is: its time less the floor's is what loading and relocating
// libexiv2 and its dependencies costs at every start.
#include <exiv2/exiv2.hpp>

int main(int argc, char**) {
    // Never true in the benchmark; keeps the library a real dependency.
    if (argc > 100) Exiv2::enableBMFF(true);
    return 0;
}
