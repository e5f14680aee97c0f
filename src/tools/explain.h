// varnock-explain: what a command line of the other tools means and would
// do, told before it runs. Uses: dump, output, args, patch, kind, view,
// rawio, the codec, types.h.
#pragma once

int explain_main(int argc, char **argv);
