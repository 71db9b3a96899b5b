// A deterministic, music-like stereo signal for benchmark inputs and the demo
// recording: a pad of detuned chords, a bass line, kick, snare and hi-hat, and
// a little noise, each channel mixed differently. Levels are set so the peak
// sits near full scale on the drum hits while the body of the music stays
// well below it: clipping 3 dB below the peak catches only transients (well
// under 1% of samples), 18 dB below it a quarter to a third of them.
//
// Integer arithmetic throughout; the tables are built with +, * and / only,
// which IEEE doubles round alike everywhere, so a seed gives the same bytes on
// every platform and compiler.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvelle::bench {

constexpr int waveTableBits = 12;
constexpr int waveTableSize = 1 << waveTableBits;
constexpr int phaseToIndexShift = 32 - waveTableBits;
// Table values stay within +-16384 so sums of a few of them times a Q15 gain
// fit comfortably in 64 bits and scale simply.
constexpr double waveTableAmplitude = 16384.0;

// Gains and envelope levels are Q15: 32768 is 1.0.
constexpr std::int32_t unityQ15 = 32768;
// Control values (envelopes, pitch sweeps, triggers) change once per block of
// 32 frames at 44.1 kHz; blocks scale with the rate so timing does not.
constexpr std::int32_t blockFramesAt44100 = 32;
// 690 blocks of 32 frames per beat: 119.8 beats per minute.
constexpr std::int32_t blocksPerEighth = 345;
constexpr std::int32_t eighthsPerBar = 8;
constexpr std::int32_t barsPerSection = 8;
// Gains glide to their block target in this many fractional bits, so small
// steps are not lost to integer division.
constexpr int gainFractionBits = 8;

struct RandomState {
    std::uint64_t state = 0;
};

// splitmix64 turns any seed, zero included, into a usable xorshift state.
inline RandomState seedRandom(std::uint64_t seed)
{
    std::uint64_t mixed = seed + 0x9E3779B97F4A7C15ULL;
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ULL;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBULL;
    mixed ^= mixed >> 31;
    return RandomState{mixed != 0 ? mixed : 0x2545F4914F6CDD1DULL};
}

// xorshift64*: fast, and good enough for noise and musical choices.
inline std::uint64_t nextRandom(RandomState& random)
{
    random.state ^= random.state >> 12;
    random.state ^= random.state << 25;
    random.state ^= random.state >> 27;
    return random.state * 0x2545F4914F6CDD1DULL;
}

// A Q15 value in [lowQ15, highQ15).
inline std::int32_t randomBetween(RandomState& random, std::int32_t lowQ15, std::int32_t highQ15)
{
    const auto spread = static_cast<std::uint64_t>(highQ15 - lowQ15);
    return lowQ15 + static_cast<std::int32_t>((nextRandom(random) >> 33) % spread);
}

// True with probability percent / 100.
inline bool randomChance(RandomState& random, int percent)
{
    return static_cast<int>((nextRandom(random) >> 33) % 100) < percent;
}

// sin(2 pi turn) for turn in [0, 1), by its Taylor series around the nearest
// of 0, 1/2 and 1: no libm, whose sin differs between platforms.
inline double sineOfTurn(double turn)
{
    constexpr double twoPi = 6.283185307179586;
    double angle = 0.0;
    if (turn < 0.25) {
        angle = turn * twoPi;
    } else if (turn < 0.75) {
        angle = (0.5 - turn) * twoPi;
    } else {
        angle = (turn - 1.0) * twoPi;
    }
    // |angle| <= pi/2 here; 11 terms leave an error far below one table step.
    double term = angle;
    double sum = term;
    const double angleSquared = angle * angle;
    for (int power = 3; power <= 23; power += 2) {
        term = -term * angleSquared / static_cast<double>((power - 1) * power);
        sum += term;
    }
    return sum;
}

struct WaveTables {
    std::array<std::int16_t, waveTableSize> sine{};
    // Five harmonics at falling strength: a soft, string-like tone.
    std::array<std::int16_t, waveTableSize> harmonic{};
};

inline WaveTables makeWaveTables()
{
    constexpr std::array<double, 5> harmonicWeights{1.0, 0.5, 0.33, 0.22, 0.14};
    std::array<double, waveTableSize> harmonicSum{};
    double harmonicPeak = 0.0;
    for (int index = 0; index < waveTableSize; ++index) {
        double sum = 0.0;
        for (std::size_t harmonic = 0; harmonic < harmonicWeights.size(); ++harmonic) {
            const int position = (index * static_cast<int>(harmonic + 1)) % waveTableSize;
            sum += harmonicWeights[harmonic] * sineOfTurn(static_cast<double>(position) / waveTableSize);
        }
        harmonicSum[static_cast<std::size_t>(index)] = sum;
        harmonicPeak = std::max(harmonicPeak, sum < 0.0 ? -sum : sum);
    }
    WaveTables tables;
    for (int index = 0; index < waveTableSize; ++index) {
        const auto slot = static_cast<std::size_t>(index);
        const double sine = sineOfTurn(static_cast<double>(index) / waveTableSize);
        tables.sine[slot] = static_cast<std::int16_t>(sine * waveTableAmplitude);
        tables.harmonic[slot] = static_cast<std::int16_t>(harmonicSum[slot] / harmonicPeak * waveTableAmplitude);
    }
    return tables;
}

// Equal-tempered C4..B4 in millihertz; other octaves by shifting.
constexpr std::array<std::uint32_t, 12> octaveFourMilliHertz{261626, 277183, 293665, 311127, 329628, 349228,
                                                             369994, 391995, 415305, 440000, 466164, 493883};

inline std::uint32_t noteMilliHertz(int midiNote)
{
    const std::uint32_t base = octaveFourMilliHertz[static_cast<std::size_t>(midiNote % 12)];
    const int octaveShift = midiNote / 12 - 5;
    return octaveShift >= 0 ? base << octaveShift : base >> -octaveShift;
}

// Phase step per frame of a 32-bit phase accumulator.
inline std::uint32_t phaseIncrement(std::uint64_t milliHertz, std::int32_t sampleRate)
{
    return static_cast<std::uint32_t>((milliHertz << 32) / (static_cast<std::uint64_t>(sampleRate) * 1000U));
}

// A level that jumps or ramps at a trigger and then decays by a fixed factor
// per block.
struct Envelope {
    std::int32_t levelQ15 = 0;
    std::int32_t decayQ15 = unityQ15;
    std::int32_t attackBlocksLeft = 0;
};

inline void triggerEnvelope(Envelope& envelope, std::int32_t attackBlocks)
{
    envelope.attackBlocksLeft = attackBlocks;
    if (attackBlocks == 0) {
        envelope.levelQ15 = unityQ15 - 1;
    }
}

inline void advanceEnvelope(Envelope& envelope)
{
    if (envelope.attackBlocksLeft > 0) {
        envelope.levelQ15 += (unityQ15 - 1 - envelope.levelQ15) / envelope.attackBlocksLeft;
        --envelope.attackBlocksLeft;
    } else {
        envelope.levelQ15 = envelope.levelQ15 * envelope.decayQ15 / unityQ15;
    }
}

// A gain that glides linearly, frame by frame, to the target set each block.
struct GlidingGain {
    std::int32_t value = 0; // Q15 with gainFractionBits more below
    std::int32_t step = 0;
};

inline void glideTo(GlidingGain& gain, std::int32_t targetQ15, std::int32_t blockFrames)
{
    gain.step = ((targetQ15 << gainFractionBits) - gain.value) / blockFrames;
}

inline std::int64_t currentGain(const GlidingGain& gain)
{
    return gain.value >> gainFractionBits;
}

constexpr int padNoteCount = 3;

// Each pad note has one oscillator shared by both channels and one detuned
// oscillator per channel, so the channels beat differently.
struct PadNote {
    std::uint32_t sharedPhase = 0;
    std::uint32_t leftPhase = 0;
    std::uint32_t rightPhase = 0;
    std::uint32_t sharedIncrement = 0;
    std::uint32_t leftIncrement = 0;
    std::uint32_t rightIncrement = 0;
};

struct Drum {
    Envelope envelope;
    std::int32_t velocityQ15 = 0;
    GlidingGain gain;
};

struct MusicGenerator {
    WaveTables tables;
    RandomState noiseRandom;
    RandomState choiceRandom;
    std::int32_t sampleRate = 44100;
    std::int32_t blockFrames = blockFramesAt44100;
    std::int32_t framesLeftInBlock = 0;
    std::int64_t blockIndex = 0;
    int keyNote = 60;
    int progression = 0;
    std::int32_t sectionLevelQ15 = unityQ15;

    std::array<PadNote, padNoteCount> pad{};
    Envelope padEnvelope;
    GlidingGain padGain;

    std::uint32_t bassPhase = 0;
    std::uint32_t bassIncrement = 0;
    Envelope bassEnvelope;
    GlidingGain bassGain;

    Drum kick;
    std::uint32_t kickPhase = 0;
    std::uint32_t kickIncrement = 0;
    std::uint32_t kickFloorIncrement = 0;
    std::uint32_t kickStartIncrement = 0;

    Drum snare;
    std::uint32_t snarePhase = 0;
    std::uint32_t snareIncrement = 0;

    Drum hat;
    std::int32_t previousHatNoise = 0;
};

// Chords as scale steps above the key: I, ii, iii, IV, V, vi.
constexpr std::array<std::array<int, padNoteCount>, 6> chordSteps{{
    {0, 4, 7},
    {2, 5, 9},
    {4, 7, 11},
    {5, 9, 12},
    {7, 11, 14},
    {9, 12, 16},
}};
constexpr std::array<std::array<int, 4>, 4> progressions{{
    {0, 4, 5, 3},
    {5, 3, 0, 4},
    {0, 5, 3, 4},
    {1, 4, 0, 5},
}};

// Levels of the voices in the mix, Q15. The kick alone can reach the top of
// the soft limiter; the rest stays mostly below a quarter of full scale.
constexpr std::int32_t padLevelQ15 = 5200;
constexpr std::int32_t bassLevelQ15 = 9000;
constexpr std::int32_t kickLevelQ15 = 26000;
constexpr std::int32_t snareLevelQ15 = 9000;
constexpr std::int32_t hatLevelQ15 = 2600;
constexpr std::int32_t noiseLevelQ15 = 220;
// Above this magnitude the mix is bent smoothly (a parabola, meeting full
// scale with zero slope) instead of being cut, so the input has flat tops only
// on the very loudest hits.
constexpr std::int32_t limiterKnee = 20000;
constexpr std::int32_t fullScale = 32767;

inline std::int16_t softLimit(std::int64_t mixed)
{
    const std::int64_t magnitude = mixed < 0 ? -mixed : mixed;
    if (magnitude <= limiterKnee) {
        return static_cast<std::int16_t>(mixed);
    }
    constexpr std::int64_t headroom = fullScale - limiterKnee;
    const std::int64_t excess = std::min<std::int64_t>(magnitude - limiterKnee, 2 * headroom);
    const std::int64_t bent = limiterKnee + excess - excess * excess / (4 * headroom);
    return static_cast<std::int16_t>(mixed < 0 ? -bent : bent);
}

inline void tunePad(MusicGenerator& generator, int chord)
{
    for (int note = 0; note < padNoteCount; ++note) {
        const int midiNote =
            generator.keyNote + chordSteps[static_cast<std::size_t>(chord)][static_cast<std::size_t>(note)];
        const std::uint64_t milliHertz = noteMilliHertz(midiNote);
        PadNote& padNote = generator.pad[static_cast<std::size_t>(note)];
        // About 5 and 7 cents apart: a slow chorus, different on each side.
        padNote.sharedIncrement = phaseIncrement(milliHertz, generator.sampleRate);
        padNote.leftIncrement = phaseIncrement(milliHertz + milliHertz * 3 / 1000, generator.sampleRate);
        padNote.rightIncrement = phaseIncrement(milliHertz - milliHertz * 4 / 1000, generator.sampleRate);
    }
}

inline void hitDrum(Drum& drum, RandomState& random, std::int32_t lowVelocityQ15, std::int32_t highVelocityQ15)
{
    drum.velocityQ15 = randomBetween(random, lowVelocityQ15, highVelocityQ15);
    triggerEnvelope(drum.envelope, 0);
}

// What starts on this eighth note: chord and section changes, bass notes and
// the drum pattern, with a little chance in it.
inline void startEighth(MusicGenerator& generator, std::int64_t eighthIndex)
{
    RandomState& random = generator.choiceRandom;
    const auto step = static_cast<int>(eighthIndex % eighthsPerBar);
    const std::int64_t barIndex = eighthIndex / eighthsPerBar;
    const int chord =
        progressions[static_cast<std::size_t>(generator.progression)][static_cast<std::size_t>(barIndex % 4)];
    if (step == 0) {
        if (barIndex % barsPerSection == 0) {
            // A new section: verses quieter, choruses at full level. The first
            // is at full level, so even a short file peaks near full scale.
            constexpr std::array<std::int32_t, 4> sectionLevels{16000, 22000, 28000, unityQ15 - 1};
            const std::uint64_t draw = nextRandom(random) % sectionLevels.size();
            generator.sectionLevelQ15 = sectionLevels[barIndex == 0 ? sectionLevels.size() - 1 : draw];
            generator.progression = static_cast<int>(nextRandom(random) % progressions.size());
        }
        tunePad(generator, chord);
        triggerEnvelope(generator.padEnvelope, 60);
    }
    if (step == 0 || step == 3 || step == 4 || step == 6) {
        const int bassNote = generator.keyNote - 24 + chordSteps[static_cast<std::size_t>(chord)][0] +
                             (step == 6 && randomChance(random, 40) ? 7 : 0);
        generator.bassIncrement = phaseIncrement(noteMilliHertz(bassNote), generator.sampleRate);
        triggerEnvelope(generator.bassEnvelope, 2);
    }
    if (step == 0 || step == 4 || ((step == 5 || step == 7) && randomChance(random, 25))) {
        hitDrum(generator.kick, random, step == 0 ? 28000 : 21000, unityQ15);
        generator.kickIncrement = generator.kickStartIncrement;
        generator.kickPhase = 0;
    }
    if (step == 2 || step == 6) {
        hitDrum(generator.snare, random, 24000, unityQ15);
    } else if (step == 7 && randomChance(random, 20)) {
        hitDrum(generator.snare, random, 5000, 9000);
    }
    hitDrum(generator.hat, random, step % 2 == 0 ? 20000 : 9000, step % 2 == 0 ? 30000 : 18000);
}

inline std::int32_t scaleQ15(std::int32_t value, std::int32_t factorQ15)
{
    return static_cast<std::int32_t>(static_cast<std::int64_t>(value) * factorQ15 / unityQ15);
}

inline void setDrumGain(Drum& drum, std::int32_t levelQ15, std::int32_t sectionQ15, std::int32_t blockFrames)
{
    const std::int32_t target =
        scaleQ15(scaleQ15(scaleQ15(drum.envelope.levelQ15, drum.velocityQ15), levelQ15), sectionQ15);
    glideTo(drum.gain, target, blockFrames);
}

inline void startBlock(MusicGenerator& generator)
{
    if (generator.blockIndex % blocksPerEighth == 0) {
        startEighth(generator, generator.blockIndex / blocksPerEighth);
    }
    ++generator.blockIndex;
    generator.framesLeftInBlock = generator.blockFrames;

    advanceEnvelope(generator.padEnvelope);
    advanceEnvelope(generator.bassEnvelope);
    advanceEnvelope(generator.kick.envelope);
    advanceEnvelope(generator.snare.envelope);
    advanceEnvelope(generator.hat.envelope);

    // The kick's pitch falls quickly from its start to its floor.
    const std::uint32_t above = generator.kickIncrement - generator.kickFloorIncrement;
    generator.kickIncrement =
        generator.kickFloorIncrement + static_cast<std::uint32_t>(above * 31500ULL / unityQ15);

    const std::int32_t section = generator.sectionLevelQ15;
    const std::int32_t frames = generator.blockFrames;
    glideTo(generator.padGain, scaleQ15(scaleQ15(generator.padEnvelope.levelQ15, padLevelQ15), section), frames);
    glideTo(generator.bassGain, scaleQ15(scaleQ15(generator.bassEnvelope.levelQ15, bassLevelQ15), section),
            frames);
    setDrumGain(generator.kick, kickLevelQ15, section, frames);
    setDrumGain(generator.snare, snareLevelQ15, section, frames);
    setDrumGain(generator.hat, hatLevelQ15, section, frames);
}

inline std::int32_t lookUp(const std::array<std::int16_t, waveTableSize>& table, std::uint32_t phase)
{
    return table[phase >> phaseToIndexShift];
}

inline void renderFrames(MusicGenerator& generator, std::int16_t* interleaved, std::int32_t frameCount)
{
    const WaveTables& tables = generator.tables;
    for (std::int32_t frame = 0; frame < frameCount; ++frame) {
        std::int64_t padLeft = 0;
        std::int64_t padRight = 0;
        for (PadNote& note : generator.pad) {
            const std::int32_t shared = lookUp(tables.harmonic, note.sharedPhase);
            padLeft += shared + lookUp(tables.harmonic, note.leftPhase);
            padRight += shared + lookUp(tables.harmonic, note.rightPhase);
            note.sharedPhase += note.sharedIncrement;
            note.leftPhase += note.leftIncrement;
            note.rightPhase += note.rightIncrement;
        }
        const std::int64_t bass = lookUp(tables.harmonic, generator.bassPhase) * currentGain(generator.bassGain);
        const std::int64_t kick = lookUp(tables.sine, generator.kickPhase) * currentGain(generator.kick.gain);
        generator.bassPhase += generator.bassIncrement;
        generator.kickPhase += generator.kickIncrement;

        // Four 16-bit noise values from one draw.
        const std::uint64_t noise = nextRandom(generator.noiseRandom);
        const auto snareNoise = static_cast<std::int16_t>(noise & 0xFFFF);
        const auto hatNoise = static_cast<std::int16_t>((noise >> 16) & 0xFFFF);
        const auto leftNoise = static_cast<std::int16_t>((noise >> 32) & 0xFFFF);
        const auto rightNoise = static_cast<std::int16_t>((noise >> 48) & 0xFFFF);

        const std::int64_t snare =
            (snareNoise / 2 + lookUp(tables.sine, generator.snarePhase)) * currentGain(generator.snare.gain);
        generator.snarePhase += generator.snareIncrement;
        // Differencing the noise leaves its highs: the hat's hiss.
        const std::int64_t hat = (hatNoise - generator.previousHatNoise) / 2 * currentGain(generator.hat.gain);
        generator.previousHatNoise = hatNoise;

        const std::int64_t pad = currentGain(generator.padGain);
        const std::int64_t left = padLeft * pad + bass + kick + snare + hat * 5 / 8 + leftNoise * noiseLevelQ15;
        const std::int64_t right = padRight * pad + bass + kick + snare * 3 / 4 + hat + rightNoise * noiseLevelQ15;
        // The Q15 gains, and twice the level: the tables are at half scale.
        interleaved[2 * frame] = softLimit(left / (unityQ15 / 2));
        interleaved[2 * frame + 1] = softLimit(right / (unityQ15 / 2));

        generator.padGain.value += generator.padGain.step;
        generator.bassGain.value += generator.bassGain.step;
        generator.kick.gain.value += generator.kick.gain.step;
        generator.snare.gain.value += generator.snare.gain.step;
        generator.hat.gain.value += generator.hat.gain.step;
    }
}

// sampleRate is 44100, 88200 or 176400.
inline MusicGenerator makeMusicGenerator(std::uint64_t seed, std::int32_t sampleRate)
{
    MusicGenerator generator;
    generator.tables = makeWaveTables();
    generator.noiseRandom = seedRandom(seed);
    generator.choiceRandom = seedRandom(seed ^ 0x5DEECE66DULL);
    generator.sampleRate = sampleRate;
    generator.blockFrames = blockFramesAt44100 * (sampleRate / 44100);
    // A major key between A3 and E4.
    generator.keyNote = 57 + static_cast<int>(nextRandom(generator.choiceRandom) % 8);
    // Time constants, per block of 0.73 ms: pad 1.2 s, bass 250 ms, kick
    // 150 ms, snare 70 ms, hat 20 ms.
    generator.padEnvelope.decayQ15 = 32747;
    generator.bassEnvelope.decayQ15 = 32672;
    generator.kick.envelope.decayQ15 = 32609;
    generator.snare.envelope.decayQ15 = 32428;
    generator.hat.envelope.decayQ15 = 31601;
    generator.kickStartIncrement = phaseIncrement(150000, sampleRate);
    generator.kickFloorIncrement = phaseIncrement(48000, sampleRate);
    generator.kickIncrement = generator.kickFloorIncrement;
    generator.snareIncrement = phaseIncrement(190000, sampleRate);
    return generator;
}

// Fills interleaved (left, right, left, ...) with the next frames.
inline void generateFrames(MusicGenerator& generator, std::span<std::int16_t> interleaved)
{
    std::int16_t* next = interleaved.data();
    auto framesLeft = static_cast<std::int64_t>(interleaved.size() / 2);
    while (framesLeft > 0) {
        if (generator.framesLeftInBlock == 0) {
            startBlock(generator);
        }
        const auto frames =
            static_cast<std::int32_t>(std::min<std::int64_t>(framesLeft, generator.framesLeftInBlock));
        renderFrames(generator, next, frames);
        generator.framesLeftInBlock -= frames;
        framesLeft -= frames;
        next += 2 * static_cast<std::ptrdiff_t>(frames);
    }
}

} // namespace tarvelle::bench
