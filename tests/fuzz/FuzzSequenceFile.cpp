// Feeds arbitrary bytes through the whole pipeline: the reader, the
// distances and, for small counts, all three reconstructions and the report.
// The first byte chooses the molecule kind. Both formats, native and FASTA,
// are reached, and every output form is made.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>
#include <string>

#include "driver/Report.h"
#include "driver/myException.h"
#include "history/DuplicationTree.h"
#include "output/NewickWriter.h"
#include "output/SvgWriter.h"
#include "sequences/SequenceFileReader.h"
#include "sequences/SequenceSet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    SequenceSet sequences;
    sequences.isProtein = (data[0] & 1) != 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    try {
        sequences.readSequences(in);
        if (sequences.count > 400) return 0;
        sequences.computeDistances();
    } catch (const SequenceFileError&) {
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
        out << newickText(tree, sequences.names);
        for (const std::string& line : svgDocument({drawHistory(entry.number, tree, sequences.names)})) out << line;
    }
    return 0;
}
