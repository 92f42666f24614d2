// io_file.cpp -- data files and the line readers for descriptor files
#include "io/io.h"
