#ifndef KERDRIVERFUNC_H
#define KERDRIVERFUNC_H

class Param;
struct CommandSet;

// The channel to the touch driver's control file. Every operation returns 1
// on success, -1 when the file cannot be opened or the transfer fails, and -2
// for an invalid argument (or an operation the active command set lacks).

// Descriptor of the open driver file; 0 means the channel is closed.
extern int fd;
// The one scratch buffer for requests and answers; the first program uses 128 bytes of it.
extern unsigned char szTemp[129];
// Bytes the last query's read delivered; -1 when it failed or nothing was read.
// A driver may answer short, which the operations take as success.
extern int lastRead;
// The errno of the last failed attempt to open the driver file; 0 once it opened.
extern int openError;

int Init();
// Lets Init() open the driver file for reading only when reading and
// writing are refused, for programs that only ask (a monitoring account
// may read the file without writing it). Commands then fail with EBADF.
void AllowReadOnly(bool allowed);

int SetOutPut(Param *param);
int SetThreshold(Param *param);
int CalibrateStart();
int CalibrateEnd(Param *param);
int GetFPS(Param *param);
int GetCalibStatus(Param *param);
int GetBasicStatus(Param *param);
int SetIntensity(Param *param);
int GetGraph(int *samples);
int SetCalibrateMode(unsigned char mode);
int GetMatrix(Param *param, unsigned char code);
int GetTouchPoint(Param *param);

// Pure decoders of the driver's answers, usable without a driver.
namespace KerDecode {
enum { BasicStatusLength = 32, GraphLength = 128, TouchBlockLength = 128, MaxTouchPoints = 31 };

void basicStatus(const unsigned char *answer, const CommandSet &commands, Param *param);
void scanRate(const unsigned char *answer, const CommandSet &commands, Param *param);
void calibStatus(const unsigned char *answer, Param *param);
// The channels of a graph answer as the first program's views and tools use
// them. The driver's layout counts are trusted only as far as the 128
// samples reach: X is cut to 128 channels, Y to the channels left after X,
// and the labelled channels to 128, so that everything stays aligned and
// nothing reads past the answer or divides by a zero Y count.
struct GraphChannels
{
    int x;
    int y;
    int labels;
};
GraphChannels graphChannels(int layoutX, int layoutY, int channelCount);
// Touch area edge from the driver's scale to pixels: a 32-bit signed product, truncated division.
int areaEdge(int screenSize, const unsigned char *pair, int divisor);
// Number of touch points a reader may take from a touch block (at most 31).
int touchCount(const unsigned char *block);
// Coordinates of touch point i of a touch block, 0 to 4095.
int touchX(const unsigned char *block, int i);
int touchY(const unsigned char *block, int i);
// Encodes the low 16 bits of value high byte first.
void putPair(unsigned char *out, int value);
} // namespace KerDecode

#endif // KERDRIVERFUNC_H
