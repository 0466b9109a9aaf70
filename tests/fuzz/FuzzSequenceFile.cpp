// Feeds arbitrary bytes through the whole pipeline: the reader, the
// distances and, for small counts, all three reconstructions and the report.
// The first byte chooses the molecule kind (bit 0), the distance model (bits
// 1 and 2), pairwise gap deletion (bit 3) and, with bit 7, a distance matrix
// instead of an alignment. Both sequence formats, native and FASTA, gzip data
// and matrices are reached, and every output form is made; every fitted
// edge length must be finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>
#include <string>

#include "common/FailedRun.h"
#include "common/myException.h"
#include "driver/Report.h"
#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"
#include "output/NewickWriter.h"
#include "output/SvgWriter.h"
#include "sequences/MatrixFile.h"
#include "sequences/SequenceFileReader.h"
#include "sequences/SequenceSet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    SequenceSet sequences;
    sequences.isProtein = (data[0] & 1) != 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    const DistanceModel models[] = {
        DistanceModel::jukesCantor, DistanceModel::jukesCantor,
        sequences.isProtein ? DistanceModel::kimuraProtein : DistanceModel::kimuraTwoParameter,
        DistanceModel::uncorrected};
    sequences.distanceOptions.model = models[(data[0] >> 1) & 3];
    sequences.distanceOptions.pairwiseGaps = (data[0] & 0x08) != 0;
    try {
        if ((data[0] & 0x80) != 0) {
            MatrixFile matrix = readMatrixFile(in);
            if (matrix.distances->count() > 400) return 0;
            sequences.count = matrix.distances->count();
            sequences.names = std::move(matrix.names);
            sequences.distances = std::move(matrix.distances);
            std::ostringstream written;
            writeMatrixFile(written, *sequences.distances, sequences.names);
        } else {
            sequences.readSequences(in);
            if (sequences.count > 400) return 0;
            sequences.computeDistances();
        }
    } catch (const SequenceFileError&) {
        return 0;
    } catch (const FailedRun&) {
        return 0;
    } catch (const myException&) {
        return 0;
    }
    if (sequences.count > 14) return 0;
    DuplicationTree tree;
    std::ostringstream out;
    for (const CriterionEntry& entry : blockCriteria()) {
        tree.reconstruct(*sequences.distances, entry.number);
        printReport(entry.number, tree, true, out);
        // Every fitted length is finite: no input may make a NaN or an
        // infinity that the Newick would print.
        const EdgeLengths lengths = fitEdgeLengths(tree, *sequences.distances);
        for (const double length : lengths.above)
            if (!std::isfinite(length)) __builtin_trap();
        out << newickText(tree, sequences.names, {&lengths, nullptr, false});
        for (const std::string& line : svgDocument({drawHistory(entry.number, tree, sequences.names)})) out << line;
    }
    return 0;
}
