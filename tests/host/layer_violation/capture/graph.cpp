#include "capture/capture_graph.h"
#include "record/recording.h"
