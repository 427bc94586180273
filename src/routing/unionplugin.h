#pragma once
// UnionPlugin ("Union"): merges its own chain's stream (input 0) with copies that up to seven forks send from other
// chains (inputs 1 to 7), for a parametric curve or a multi-line display.
//
// Each input keeps its recent words in a RingBuffer and its data properties in a StreamFormat. The output is one
// stream whose description the union computes (mergeMeta) and sends downstream, each property only when it changed.
// The union consumes every property of its inputs; what goes downstream depends on the mode:
//  - "transparent" (0): the stream of the master input passes unchanged, data and every property. The other inputs
//    are ignored. With "masterchannel" -1 the master is input 0 (the first input with a valid encoding).
//  - "parametric" (1, default): one word per point, the value of input 0 at the position that input 1's word gives
//    (`setData(&value, 1, position)`). Points are paired by stream index when "forceddatamatch" is set or the
//    master's order is a scan order (1 to 6), otherwise by arrival: the oldest unpaired word of each input, in turn.
//  - "fpsxy" (2): input 0 alone carries pairs of words, a position and a value, each a signed 24-bit number.
//  - "multiline" (3): the active inputs interleaved sample by sample: A inputs give blocks of A words per sample,
//    encoding 1 with the channel mask of A bits in bits 8 to 15 (one curve per input in the line display). Samples
//    are matched by stream index under the same condition as above, otherwise by arrival.
// The chain counts words: a merged block of r samples goes out as r × A words at word index k × A.
//
// Output description of the parametric modes: a linear x axis of 1000000000 points whose extent is the position
// source's physical value range (input 1, input 0 in "fpsxy"), and the value properties of input 0. Of the multiline
// and transparent modes: the master input's properties.
//
// Pairing: the union announces itself when it is made and whenever a partner search with a null pointer reaches it
// (a host may send one through its pages to re-run the pairing); forks search for their target themselves.
//
// Only plain 32-bit words (encoding 0) are merged in the parametric and multiline modes; an input with another
// encoding than the master's is not active (a message says so once). Encoding 255 marks an input as inactive.

#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "routing/ringbuffer.h"

#include <QPointer>
#include <QVector>
#include <array>
#include <memory>
#include <vector>

class ForkPlugin;

class UnionPlugin : public GPlugin
{
    Q_OBJECT
public:
    enum Mode : int { transparent = 0, parametric = 1, fpsxy = 2, multiline = 3 };
    /// Input 0 (the own chain) and the fork inputs 1 to 7.
    static constexpr int inputCount = 8;
    /// Number of points of the parametric x axis.
    static constexpr int parametricPoints = 1000000000;

    UnionPlugin(QWidget* parent, QString name);
    ~UnionPlugin() override;

    /// Gives `fork` an input: `input` 1 to 7 asks for that one, -1 for the lowest free one. Returns the input
    /// number, or -1 when none can be given (all seven taken, the asked one held by another explicit fork, or an
    /// invalid number). An explicit request takes the input from a fork that got it automatically; that fork moves to
    /// another free input or becomes unpaired.
    int setPartner(ForkPlugin* fork, int input);
    /// Frees the input of `fork` (a fork being deleted or re-targeted).
    void releasePartner(ForkPlugin* fork);

    // Per-input properties. Binning, trigger, rotation and the z properties are kept but do not shape the output
    // (they pass only in transparent mode).
    void setDataOrder(int input, GPlugin::DataOrder order);
    void setDataEncoding(int input, GPlugin::DataEncoding encoding);
    void setDataRangeX(int input, int value);
    void setDataRangeY(int input, int value);
    void setDataOffsetX(int input, int value);
    void setDataOffsetY(int input, int value);
    void setDataOffsetVal(int input, int value);
    void setDataPhysX(int input, int value);
    void setDataPhysY(int input, int value);
    void setDataPhysVal(int input, int value);
    void setDataUnitX(int input, int value);
    void setDataUnitVal(int input, int value);
    void setInputProperty(int input, StreamFormat::Property p, int value);
    /// A data block of `input`.
    void setData(int input, const int* data, int count, int index);
    /// The input's stream starts again (its ring is emptied). In transparent mode the master's init goes downstream.
    void initInput(int input);

    // The own chain is input 0.
    void setOption(QString key, QString value) override;
    void init() override;
    void setDataOrder(GPlugin::DataOrder v) override;
    void setDataEncoding(GPlugin::DataEncoding v) override;
    void setDataBinning(int v) override;
    void setDataRangeX(int v) override;
    void setDataRangeY(int v) override;
    void setDataRangeZ(int v) override;
    void setDataOffsetX(int v) override;
    void setDataOffsetY(int v) override;
    void setDataOffsetZ(int v) override;
    void setDataOffsetVal(int v) override;
    void setDataPhysX(int v) override;
    void setDataPhysY(int v) override;
    void setDataPhysZ(int v) override;
    void setDataPhysVal(int v) override;
    void setDataPhysValNumerator(int v) override;
    void setDataTrigger(GPlugin::DataTrigger v) override;
    void setDataRotation(int v) override;
    void setDataUnitX(int v) override;
    void setDataUnitZ(int v) override;
    void setDataUnitVal(int v) override;
    void setFixXY(bool v) override;
    void setDataScanSpeed(int v) override;
    void setData(const int* data, int count, int index) override;
    /// Byte blocks pass only in transparent mode with input 0 as the master; merged streams have none.
    void setDataOdd(const int* data, int count, int index) override;

    /// Sends the output's x properties downstream (each only when it changed; unit 0 never).
    void sendMetaX(GPlugin::DataOrder order, int rangeX, int offsetX, int physX, int unitX,
                   GPlugin::DataEncoding encoding);
    /// Sends the output's value properties downstream.
    void sendMetaVal(int unitVal, int physVal, int offsetVal);
    /// Chooses the master input and the list of active inputs.
    void updateActiveChannels();
    /// Recomputes the output description and sends what changed.
    void mergeMeta();
    /// Merges the samples of the active inputs by stream index, from `index` on for `count` indices.
    void mergeMultiline(int index, int count);
    /// Merges the samples of the active inputs by arrival (their indices need not line up).
    void mergeMultilineHeuristic(int index, int count);
    /// Checks a block as 64-bit event data (pairs of a low word with bit 31 clear and a high word with bit 31 set);
    /// returns the number of pairs that break the rule (an odd trailing word counts as one).
    static int check64Format(const int* data, int count);

    Mode getMode() const { return mode; }
    int getMaster() const { return master; }
    const QVector<int>& getActiveInputs() const { return active; }
    bool isReady() const { return ready; }
    /// Highest fork input in use (0 to 7).
    int getInputsUsed() const;
    ForkPlugin* getFork(int input) const;
    const StreamFormat& inputFormat(int input) const { return inputs[clampInput(input)].format; }
    const RingBuffer& ring(int input) const { return inputs[clampInput(input)].ring; }
    /// The description sent downstream so far.
    const StreamFormat& outputFormat() const { return sent; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    /// A null `ptr` asks the union to announce itself; a fork that searches for this union's name gets paired.
    void checkForPartner(QString name, GPlugin* ptr) override;

private:
    struct Input
    {
        QPointer<ForkPlugin> fork;
        bool held = false;       // a fork holds the input (inputs 1 to 7)
        bool explicitly = false; // held by the fork's "index" option
        RingBuffer ring;
        StreamFormat format;
        int fixCarry = 0;           // fix64format: the last word of the previous block, held back
        qint64 fixCarryIndex = -1;  // its stream index; -1 when none
        int pairCarry = 0;          // fpsxy: the position word of a pair that the previous block cut
        qint64 pairCarryIndex = -1; // its stream index; -1 when none
        bool reportedOverflow = false;
        bool reportedEncoding = false; // "not merged": an encoding other than the master's
        bool reportedMerge = false;    // "cannot be merged": an encoding the mode cannot take
        bool reported64 = false;
    };

    static int clampInput(int input) { return input < 0 || input >= inputCount ? 0 : input; }
    bool present(int input) const { return input == 0 || (inputs[input].held && inputs[input].fork); }
    int encodingOf(int input) const { return inputs[input].format.value(StreamFormat::Encoding); }
    bool indexPairing() const;
    void formatChanged();
    void store(int input, const int* data, int count, int index);
    void pairParametricByIndex(int index, int count);
    void pairParametricByArrival();
    void convertFpsxy(const int* data, int count, int index);
    void emitMerged(const int* const* sources, int samples, qint64 sample);
    void resetInput(Input& in);
    void sendProperty(StreamFormat::Property p, int value);
    void report(const QString& text);
    void announce();

    std::array<Input, inputCount> inputs;
    Mode mode = parametric;
    int forcedDataMatch = 0;
    bool debug64 = false;
    bool fix64 = false;
    int masterChannel = -1;
    int master = -1;
    QVector<int> active;
    bool ready = false;
    StreamFormat sent;            // what went downstream last
    std::vector<int> mergeBuffer; // interleaved output of the multiline merge
    std::vector<int> fixBuffer;   // a block realigned by fix64format
    bool busy = false;            // a block is being merged (guards against a fork fed by our own output)
    bool reportedLoop = false;
    qint64 arrivalSample = 0; // output sample counter of the merges by arrival
};

GPlugin* unionFactory(QWidget* parent, QString name);
