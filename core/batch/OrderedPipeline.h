#pragma once

#include "ThreadSanitizer.h"

#include <tbb/parallel_pipeline.h>

#include <cstddef>

namespace brasko {

// Runs a three-stage TBB pipeline on the current arena: an in-order first stage that makes items (T*),
// a parallel middle stage, and an in-order last stage, with at most nTokens items in flight. The state
// that only the first stage touches is at pFirstState, that of the last stage at pLastState.
// The stages are wrapped so that ThreadSanitizer sees the order the pipeline guarantees (HandOver): an
// item passes from stage to stage, a serial stage runs once at a time, everything ends before the call
// returns. The start is a static address, as a stage must not read its captures before it has taken over.
template <class T, class First, class Middle, class Last>
void RunOrderedPipeline(std::size_t nTokens, void* pFirstState, First& first, Middle& middle,
                        void* pLastState, Last& last)
{
    static char started = 0;
    char finished = 0;
    const auto orderedFirst = [&](tbb::flow_control& control) {
        TakeOver(&started);
        TakeOver(pFirstState);
        T* pItem = first(control);
        HandOver(pFirstState);
        if (pItem != nullptr)
            HandOver(pItem);
        HandOver(&finished);
        return pItem;
    };
    const auto orderedMiddle = [&](T* pItem) {
        TakeOver(&started);
        TakeOver(pItem);
        middle(pItem);
        HandOver(pItem);
        HandOver(&finished);
        return pItem;
    };
    const auto orderedLast = [&](T* pItem) {
        TakeOver(&started);
        TakeOver(pItem);
        TakeOver(pLastState);
        last(pItem);
        HandOver(pLastState);
        HandOver(&finished);
    };
    const tbb::filter<void, void> stages =
        tbb::make_filter<void, T*>(tbb::filter_mode::serial_in_order, orderedFirst) &
        tbb::make_filter<T*, T*>(tbb::filter_mode::parallel, orderedMiddle) &
        tbb::make_filter<T*, void>(tbb::filter_mode::serial_in_order, orderedLast);
    HandOver(&started);
    tbb::parallel_pipeline(nTokens, stages);
    TakeOver(&finished);
}

} // namespace brasko
