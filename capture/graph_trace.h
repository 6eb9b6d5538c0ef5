// Lets a diagnostic tool see every DirectShow call that builds or runs the
// graph, with its result. Null in the viewer itself, which keeps no log.
#ifndef FERNWOODVIEW_GRAPH_TRACE_H
#define FERNWOODVIEW_GRAPH_TRACE_H

#include <windows.h>

typedef void (*GraphTraceCallback)(const char* call, HRESULT hr);
extern GraphTraceCallback graph_trace;

// Returns `hr`, having handed it to the trace when one is set.
inline HRESULT Traced(const char* call, HRESULT hr)
{
    if (graph_trace)
        graph_trace(call, hr);
    return hr;
}

#endif
