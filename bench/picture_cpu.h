// What a picture costs in processor time, measured whole: every thread of this process, the
// X server's process that draws what it is sent, and libavcodec decoding the same pictures
// alone for comparison. Nothing is bound to a processor.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace bench {

// True when $DISPLAY opens, waiting up to `seconds` for a server that is still starting (a
// virtual one just launched for the run). A bench costing pictures on a window must not run
// without one: the null back end would stand in and the figures would mean something else.
bool DisplayReachable(double seconds);

// The process id of the X server of $DISPLAY when it is at the other end of a local socket on
// this machine; 0 otherwise (no display, or a remote one).
pid_t XServerPid();

// The command name of process `pid` ("" when unknown), to show what is being measured.
std::string ProcessName(pid_t pid);

// CPU seconds used so far by this process, all its threads (the ones that ended included).
double ProcessCpuSeconds();

// CPU seconds used so far by process `pid`, all its threads: from the kernel's CPU clock of
// the process, else from /proc/<pid>/stat (clock ticks, 10 ms on most systems: measure over
// several hundred ms at least then). 0 when `pid` is 0 or cannot be read.
double OtherProcessCpuSeconds(pid_t pid);

// CPU seconds used so far by the calling thread.
double CallingThreadCpuSeconds();

// CPU seconds of this process plus the X server's, sampled together.
struct WholeCpu {
  double process = 0;
  double server = 0;
  double Total() const { return process + server; }
};
WholeCpu WholeCpuNow(pid_t server);
WholeCpu operator-(const WholeCpu& a, const WholeCpu& b);

double Median(std::vector<double> values);

// The bare decodes as a live wall runs them, for information beside the floor: `streams`
// threads, each with a BareDecoder of its own, decoding `units` in turn at `perSecond` pictures
// a second for `seconds` (sleeping between pictures, as a player waits for its camera), nothing
// else. CPU ms per picture of those threads; 0 when nothing decoded.
double PacedBareDecodeMs(const std::vector<std::vector<uint8_t>>& units, int streams,
                         double perSecond, double seconds);

// libavcodec alone with the player's decoder settings: one thread, low delay.
class BareDecoder {
 public:
  BareDecoder();
  ~BareDecoder();
  BareDecoder(const BareDecoder&) = delete;
  BareDecoder& operator=(const BareDecoder&) = delete;

  // Decodes one access unit; the number of pictures that came out.
  int Decode(const std::vector<uint8_t>& unit);

 private:
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  // The unit with the zero padding libavcodec reads past its end, handed over as a reference
  // (as the player does: otherwise libavcodec copies every unit into a buffer of its own).
  AVBufferRef* unit_ = nullptr;
};

}  // namespace bench
