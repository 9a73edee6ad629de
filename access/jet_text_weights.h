#pragma once

#include <array>
#include <cstdint>

// The weights of the engine's "General" text sort order for each character of
// the Basic Multilingual Plane, as runs of characters whose weights grow by a
// fixed step. Generated data (jet_text_weights.cpp), measured as
// devtools/text_keys/README.md tells.
namespace velmora::jet {

enum TextWeightKind : unsigned char {
    kIgnored, // not keyed at all
    kLetter,  // weighed: its weights, and an accent weight per place it takes
    kSpecial, // passed over when weighing, keyed with its place and weight
    kMark,    // a combining mark: adds to the accent weight of the letter before
    kUnknown, // not measured well enough to be keyed (kana and the like)
};

struct TextWeightRun {
    char16_t first;
    char16_t last;
    TextWeightKind kind;
    unsigned char length; // bytes of a letter's weights, big-endian in `weights`
    unsigned char step;   // how much `weights` grows from one character to the next
    unsigned char places; // a letter's accent places
    std::uint32_t weights;
    // A letter's accent weights; a special character's weight, or what a
    // mark adds, in the first.
    std::array<unsigned char, 3> accents;
};

extern const std::array<TextWeightRun, 3023> kGeneralTextWeights;

} // namespace velmora::jet
