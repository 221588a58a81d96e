// The decoder's helper program: the decoding library behind descriptor 3, one run per start.
// It is started by the program for each posting it hands to the library, holds nothing of the
// program's, and runs under the limits the program set before starting it.
#include "download/child_decoder_library.h"
#include "download/uu_decoder_library.h"

int main() {
    quillfin::download::UuDecoderLibrary library;
    return quillfin::download::ChildDecoderLibrary::Serve(3, library);
}
