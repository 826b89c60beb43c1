#pragma once

#include "progress.h"
#include "result_table.h"

namespace darq::bench {

// A figure measures one thing with simulators, windows and programs of its own, says on
// `progress` what it is doing, and adds its rows, each statistic one row. It throws
// std::runtime_error only when the bench itself cannot go on (darq-sim does not start, or a
// window cannot open its port).
using FigureFunction = void (*)(RunRows& rows, const Progress& progress);

// darq-read (read_figures.cpp).
void addReadLatencies(RunRows& rows, const Progress& progress);
void addReadCpu(RunRows& rows, const Progress& progress);
void addBusCycle(RunRows& rows, const Progress& progress);
void addScanSweep(RunRows& rows, const Progress& progress);
void addFindTimes(RunRows& rows, const Progress& progress);
void addNetworkReads(RunRows& rows, const Progress& progress);

// darq-read publishing to an MQTT broker (gateway_figures.cpp).
void addGatewayLatency(RunRows& rows, const Progress& progress);
void addGatewayCpu(RunRows& rows, const Progress& progress);
void addSpoolResend(RunRows& rows, const Progress& progress);
void addGatewayMemory(RunRows& rows, const Progress& progress);

// The window (window_figures.cpp).
void addWindowReadCycles(RunRows& rows, const Progress& progress);
void addEventLoopStall(RunRows& rows, const Progress& progress);
void addTrafficLogStall(RunRows& rows, const Progress& progress);
void addTrendStall(RunRows& rows, const Progress& progress);
void addTrendCpu(RunRows& rows, const Progress& progress);
void addNaiveStall(RunRows& rows, const Progress& progress);
void addStartup(RunRows& rows, const Progress& progress);
void addWindowSoak(RunRows& rows, const Progress& progress);
void addIdleWindow(RunRows& rows, const Progress& progress);
void addBenchPeak(RunRows& rows, const Progress& progress);

} // namespace darq::bench
