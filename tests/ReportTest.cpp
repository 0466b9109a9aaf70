#include <gtest/gtest.h>

#include <sstream>

#include "TreeBuilding.h"
#include "driver/Report.h"
#include "output/SvgWriter.h"
#include "reference/ReferenceHistory.h"

namespace {

TEST(Report, TreeTexts) {
    BinaryTree tree;
    EXPECT_EQ(tree.toText(false), "");
    tree.root = leaf(0);
    EXPECT_EQ(tree.toText(false), "0");
    tree.root = join(-1, leaf(0), leaf(1));
    EXPECT_EQ(tree.toText(false), "v1(0,1)");
    EXPECT_EQ(tree.toText(true), "(0,1)");
    tree.root = join(-3, join(-1, leaf(0), leaf(2)), join(-2, leaf(1), leaf(3)));
    EXPECT_EQ(tree.toText(false), "v3(v1(0,2),v2(1,3))");
    EXPECT_EQ(tree.toText(true), "((0,2),(1,3))");
    tree.root = join(-12, leaf(10), join(-11, leaf(12), leaf(123)));
    EXPECT_EQ(tree.toText(false), "v12(10,v11(12,123))");
}

TEST(Report, BlockLines) {
    DuplicationTree tree;
    EXPECT_EQ(blockLine(tree), "Duplication Blocks:   ");
    tree.blocks = {{-1, -2}, {-4, -5, -6}};
    EXPECT_EQ(blockLine(tree), "Duplication Blocks:   (v1, v2)   (v4, v5, v6)   ");
    tree.blocks = {{-12, -10}, {-3}};  // stored order, nothing sorted
    EXPECT_EQ(blockLine(tree), "Duplication Blocks:   (v12, v10)   (v3)   ");
}

TEST(Report, OneCriterionThreeLinesAllCriteriaFive) {
    DuplicationTree tree;
    tree.root = join(-3, join(-1, leaf(0), leaf(2)), join(-2, leaf(1), leaf(3)));
    tree.blocks = {{-1, -2}};
    std::ostringstream one;
    printReport(2, tree, false, one);
    EXPECT_EQ(one.str(),
              "History tree constructed by algorithm 2\nv3(v1(0,2),v2(1,3))\nDuplication Blocks:   (v1, v2)   \n");
    std::ostringstream all;
    printReport(1, tree, true, all);
    EXPECT_EQ(all.str(),
              "History tree constructed by algorithm 1\nv3(v1(0,2),v2(1,3))\n"
              "Duplication Blocks:   (v1, v2)   \n((0,2),(1,3))\n\n");
}

TEST(Report, EmptyTreeGivesAnEmptyLine) {
    DuplicationTree tree;
    std::ostringstream out;
    printReport(3, tree, false, out);
    EXPECT_EQ(out.str(), "History tree constructed by algorithm 3\n\nDuplication Blocks:   \n");
}

// Past 24 characters a leaf's label is cut in the middle, where names of one
// array differ least, and its hover text keeps the whole name; a block of
// three or more segments is labelled by their range.
TEST(Picture, LongNamesAndLargeBlocks) {
    std::vector<std::vector<double>> d(6, std::vector<double>(6, 0.0));
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            if (i != j) d[i][j] = (i % 3 == j % 3) ? 0.1 : 0.4;
    DuplicationTree tree;
    tree.reconstruct(matrixFromTable(d), 3);
    ASSERT_EQ(blockLine(tree), "Duplication Blocks:   (v1, v2, v3)   ");
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) names.push_back("C.elegans_chrX(UCSC_ce2):1234" + std::to_string(i) + "-99");
    std::string svg;
    for (const std::string& line : svgDocument({drawHistory(3, tree, names)})) svg += line + "\n";
    EXPECT_NE(svg.find(">C.elegans_c~e2):12340-99</text>"), std::string::npos) << svg;
    EXPECT_NE(svg.find("<title>C.elegans_chrX(UCSC_ce2):12345-99</title>"), std::string::npos);
    EXPECT_NE(svg.find(">(v1-v3)</text>"), std::string::npos);
    EXPECT_NE(svg.find("<title>block (v1, v2, v3)</title>"), std::string::npos);
}

}  // namespace
