#pragma once

// How a distance is made from two aligned sequences.
enum class DistanceModel {
    jukesCantor,         // the default: Jukes-Cantor for DNA, its 0.95 form for protein
    kimuraTwoParameter,  // DNA: transitions and transversions apart
    uncorrected,         // the share of compared columns that differ
    kimuraProtein,       // protein: Kimura's empirical correction
};

struct DistanceOptions {
    DistanceModel model = DistanceModel::jukesCantor;
    // Leave out, for each pair, the columns where either copy has a gap
    // ('-' or '.'); by default every column counts as it stands.
    bool pairwiseGaps = false;

    bool isDefault() const { return model == DistanceModel::jukesCantor && !pairwiseGaps; }
};
