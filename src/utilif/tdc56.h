#pragma once
// Decoder of the time tags of time-to-digital converters. A handle keeps the roll-over state of one stream; each
// decode call takes one block of raw words and queues the finished events until tdc56Pop takes them. The histogram
// filter, the disc writer and the sync writer share these decoders, so one stream decodes the same everywhere.
//
// Raw encodings (the stream's data encoding number in brackets):
//
// tdc56Decode, 56-bit time tags [5]. One 32-bit word each:
//   - bit 28 set: a high word; base = (word & 0x0FFFFFFF) << 28. Bits 29-31 of a high word are ignored.
//   - bit 28 clear: an event. time = base + (word & 0x0FFFFFFF), channel = (word >> 29) + 1 (1 ... 8).
//   - Events are skipped while the base is 0, i.e. before the first high word (and after a high word of 0).
//   - Roll-over: when time is smaller than the time of the previous event, 0x10000000 is added to the base and to
//     the time (the low part wrapped before the next high word arrived).
//   - There is no tail: every word stands alone.
//
// tdc56Decode52, 52-bit time tags [9]. One 32-bit word each:
//   - bit 31 set: a high word; base = (word & 0x03FFFFFF) << 26 (time bits 26 ... 51). Bits 26-30 are ignored.
//   - bit 31 clear: an event. time = base + (word & 0x03FFFFFF), channel = ((word >> 26) & 0x1F) + 1 (1 ... 32).
//   - Events are skipped until the first high word (a high word of 0 counts: the stream may start at time 0).
//   - Roll-over: when time is smaller than the previous time, 0x04000000 is added to the base and to the time.
//   - There is no tail.
//
// tdc56Decode60, 60-bit time tags [7]. One event in two words, low word first, together a 64-bit little-endian
// record: bits 0 ... 59 the time, bits 60 ... 63 the channel field; channel = field + 1 (1 ... 16).
//   - The times are absolute; there are no high words, so no event is skipped.
//   - Roll-over: the 60-bit counter wraps. A time more than 2^59 below the previous one is taken as wrapped, and
//     2^60 is added to it and to every later time of the stream.
//   - Tail: a block of odd length leaves its last word in the handle; it is the low word of the first event of the
//     next block. tdc56Flush drops it (and counts it in tdc56Skipped).
//
// tdc56Decode60b, 10-byte event records [10], the raw binary format of the disc writer: a signed 64-bit
// little-endian time followed by a 16-bit little-endian channel number. Channels above 255 are reported as 255.
//   - A positive count is a number of 32-bit words; a negative count is minus a number of bytes (the data of a
//     block whose byte length is not a multiple of four, as setDataOdd receives it). The bytes are taken in memory
//     order.
//   - The times are absolute and taken as they stand: no high words, no roll-over.
//   - Tail: the bytes of an unfinished record wait in the handle for the next block (records may be split at any
//     byte). tdc56Flush drops them (and counts them, as bytes, in tdc56Skipped).
//
// A block in one encoding drops a tail that another encoding left in the handle (counted in tdc56Skipped).
//
// The queue: every finished event waits in the handle until popped; nothing is dropped. It grows by at most one
// event per word handed in, so a caller that pops after each block holds at most one block's events. When memory
// for the queue cannot be had, the decode call throws OomError and the events of that block are not queued.

#include <QtGlobal>

/// One decoded event: 16 bytes, an 8-byte time (in the unit of the time tags), then the channel number byte.
struct Tdc56Event
{
    qint64 time;
    quint8 channel;
    quint8 reserved[7];
};
static_assert(sizeof(Tdc56Event) == 16, "events are 16 bytes");

struct Tdc56State; // opaque; utilif/tdc56state.h has the layout for the inline decoding paths

Tdc56State* tdc56Init();
void tdc56DeInit(Tdc56State* h); // null is fine

/// Decode a block of raw words; decoded events queue in the handle until popped. A null handle, a null pointer or a
/// count of 0 does nothing; a negative count is taken as 0 except for tdc56Decode60b.
void tdc56Decode(Tdc56State* h, const quint32* words, int count);    // encoding 5: 56-bit time tags
void tdc56Decode60(Tdc56State* h, const quint32* words, int count);  // encoding 7
void tdc56Decode52(Tdc56State* h, const quint32* words, int count);  // encoding 9
void tdc56Decode60b(Tdc56State* h, const quint32* words, int count); // encoding 10 (count < 0: -count bytes)

/// Copies at most `capacity` finished events into `out`; events that do not fit stay for the next call.
int tdc56Pop(Tdc56State* h, Tdc56Event* out, int capacity);
/// Number of finished events waiting to be popped.
int tdc56Pending(const Tdc56State* h);
/// Ends a pass: resets the roll-over state (base, last time) so the next block starts a new stream, and drops an
/// unfinished tail. Events already decoded stay queued.
void tdc56Flush(Tdc56State* h);
/// Words (bytes for a dropped encoding-10 tail) that carried no event although they were not high words: events
/// before the first high word and dropped tails, since tdc56Init.
quint64 tdc56Skipped(const Tdc56State* h);
