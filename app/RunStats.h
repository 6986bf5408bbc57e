// A report for long runs: with GLIMMERWING_STATS_EVERY=<seconds> in the
// environment the frame loop writes one line to standard error every that
// many seconds of run time:
//   stats t=<s> frames=<n> rss_kb=<resident memory> gl_buffers=<n>
//         gl_textures=<n> gl_programs=<n> gl_shaders=<n> gl_vertex_arrays=<n>
// (one line). Without the variable nothing is measured.
#pragma once

// Called once per frame, after the frame was presented.
void ReportRunStats();

// The process's resident memory in kilobytes (0 when /proc cannot tell).
long ResidentKilobytes();
