#include "reference/ReferenceHistory.h"

#include <limits>

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();
using Table = std::vector<std::vector<double>>;
using Votes = std::vector<std::vector<int>>;

struct State {
    Table T;  // by node number
    std::vector<int> order;
    Votes V;  // by position
    int k() const { return static_cast<int>(order.size()); }
    double d(int p, int q) const { return T[order[p]][order[q]]; }
};

void classify(State& s, int a, int b, int c, int d, int delta) {
    const double S1 = s.d(a, b) + s.d(c, d);
    const double S2 = s.d(a, c) + s.d(b, d);
    const double S3 = s.d(a, d) + s.d(b, c);
    auto add = [&](int x, int y) {
        s.V[x][y] = s.V[x][y] + delta;
        s.V[y][x] = s.V[x][y];
    };
    if (S1 < S2 && S1 < S3) {
        add(a, b);
        add(c, d);
    } else if (S2 < S1 && S2 < S3) {
        add(a, c);
        add(b, d);
    } else if (S3 < S1 && S3 < S2) {
        add(a, d);
        add(b, c);
    }
}

// The enumeration with its acceptance test, over all current positions.
void classifyTouching(State& s, int lo, int hi, int delta) {
    const int k = s.k();
    auto inR = [&](int x) { return x >= lo && x < hi; };
    auto accept = [&](int x, int y) {
        if (inR(x)) return y < lo || y > x;
        return !inR(y) && y > x;
    };
    for (int a = lo; a < hi; ++a)
        for (int b = 0; b < k; ++b) {
            if (!accept(a, b)) continue;
            for (int c = 0; c < k; ++c) {
                if (!accept(b, c)) continue;
                for (int d = 0; d < k; ++d)
                    if (accept(c, d)) classify(s, a, b, c, d, delta);
            }
        }
}

Table scoreTable(const State& s) {
    const int k = s.k();
    std::vector<double> r(k);
    for (int p = 0; p < k; ++p) {
        double sum = 0.0;
        for (int q = 0; q < k; ++q) sum = sum + s.d(p, q);
        r[p] = sum;
    }
    Table Q(k, std::vector<double>(k, 0.0));
    for (int p = 0; p < k; ++p)
        for (int q = 0; q < k; ++q)
            if (p != q) Q[p][q] = s.d(p, q) - (r[p] + r[q]) / (k - 2);
    return Q;
}

std::pair<int, int> chooseLeastMean(const State& s) {
    const int k = s.k();
    if (k == 2) return {0, 1};
    const Table Q = scoreTable(s);
    double best = kLargest;
    std::pair<int, int> choice{0, 1};
    for (int j = 1; j <= k / 2; ++j) {
        double sum = 0.0;
        for (int c = 0; c < j; ++c) sum = sum + Q[c][j + c];
        for (int st = 0; st <= k - 2 * j; ++st) {
            if (st > 0) {
                sum = sum - Q[st - 1][st + j - 1];
                sum = sum + Q[st + j - 1][st + 2 * j - 1];
            }
            const double mean = sum / j;
            if (mean < best) {
                best = mean;
                choice = {st, j};
            }
        }
    }
    return choice;
}

std::pair<int, int> chooseByCount(const Votes& M, int k) {
    double best = -1.0;
    std::pair<int, int> choice{0, 1};
    for (int j = 1; j <= k / 2; ++j) {
        int count = 0;
        for (int c = 0; c < j; ++c) count += M[c][j + c];
        for (int st = 0; st <= k - 2 * j; ++st) {
            if (st > 0) count = count + M[st + j - 1][st + 2 * j - 1] - M[st - 1][st + j - 1];
            const double mean = static_cast<double>(count) / j;
            if (mean > best) {
                best = mean;
                choice = {st, j};
            }
        }
    }
    return choice;
}

std::pair<int, int> chooseMutual(const State& s) {
    const int k = s.k();
    if (k == 2) return {0, 1};
    const Table Q = scoreTable(s);
    std::vector<double> m(k, kLargest);
    for (int p = 0; p < k; ++p)
        for (int q = 0; q < k; ++q)
            if (q != p && Q[p][q] < m[p]) m[p] = Q[p][q];
    Votes M(k, std::vector<int>(k, 0));
    for (int p = 0; p < k; ++p)
        for (int q = p + 1; q < k; ++q)
            if (Q[p][q] == m[p] && Q[p][q] == m[q]) M[p][q] = M[q][p] = 1;
    return chooseByCount(M, k);
}

}  // namespace

DistanceMatrix matrixFromTable(const Table& table) {
    const int n = static_cast<int>(table.size());
    DistanceMatrix matrix(n);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) matrix.set(i, j, table[i][j]);
    return matrix;
}

Votes freshQuartetVotes(const Table& table) {
    State s;
    s.T = table;
    const int k = static_cast<int>(table.size());
    for (int p = 0; p < k; ++p) s.order.push_back(p);
    s.V.assign(k, std::vector<int>(k, 0));
    for (int a = 0; a < k; ++a)
        for (int b = a + 1; b < k; ++b)
            for (int c = b + 1; c < k; ++c)
                for (int d = c + 1; d < k; ++d) classify(s, a, b, c, d, +1);
    return s.V;
}

ReferenceResult referenceReconstruct(const DistanceMatrix& distances, int criterion) {
    ReferenceResult result;
    const int n = distances.count();
    if (n < 1) return result;
    State s;
    s.T.assign(2 * n - 1, std::vector<double>(2 * n - 1, kLargest));
    std::vector<std::string> named, unnamed;
    std::vector<int> labels;
    for (int i = 0; i < n; ++i) {
        s.order.push_back(i);
        named.push_back(std::to_string(i));
        unnamed.push_back(std::to_string(i));
        s.T[i][i] = 0;
        for (int j = i + 1; j < n; ++j) s.T[i][j] = s.T[j][i] = distances.at(i, j);
    }
    if (criterion == 1) {
        s.V.assign(n, std::vector<int>(n, 0));
        for (int a = 0; a < n; ++a)
            for (int b = a + 1; b < n; ++b)
                for (int c = b + 1; c < n; ++c)
                    for (int d = c + 1; d < n; ++d) classify(s, a, b, c, d, +1);
    }
    int nextNode = n;
    int nextLabel = -1;
    result.blockLine = "Duplication Blocks:   ";
    while (s.k() >= 2) {
        const int k = s.k();
        std::pair<int, int> choice;
        if (criterion == 1) {
            choice = chooseByCount(s.V, k);
            classifyTouching(s, choice.first, choice.first + 2 * choice.second, -1);
        } else if (criterion == 2) {
            choice = chooseMutual(s);
        } else {
            choice = chooseLeastMean(s);
        }
        result.steps.push_back(choice);
        const int start = choice.first, size = choice.second;
        for (int c = 0; c < size; ++c) {
            const int u = nextNode + c, a = s.order[start + c], b = s.order[start + size + c];
            for (int p = 0; p < k; ++p) {
                if (p >= start && p < start + 2 * size) continue;
                const int x = s.order[p];
                s.T[x][u] = s.T[u][x] = (s.T[b][x] + s.T[a][x]) * 0.5;
            }
            s.T[u][u] = 0;
            for (int d = c + 1; d < size; ++d) {
                const int u2 = nextNode + d, a2 = s.order[start + d], b2 = s.order[start + size + d];
                s.T[u2][u] = s.T[u][u2] = (s.T[b][b2] + s.T[a][a2]) * 0.5;
            }
        }
        std::string block;
        for (int c = 0; c < size; ++c) {
            const int label = nextLabel--;
            const std::size_t L = start + c, R = start + size + c;
            named[L] = "v" + std::to_string(-label) + "(" + named[L] + "," + named[R] + ")";
            unnamed[L] = "(" + unnamed[L] + "," + unnamed[R] + ")";
            s.order[L] = nextNode++;
            block += (c == 0 ? "(v" : ", v") + std::to_string(-label);
        }
        if (size >= 2) result.blockLine += block + ")   ";
        s.order.erase(s.order.begin() + start + size, s.order.begin() + start + 2 * size);
        named.erase(named.begin() + start + size, named.begin() + start + 2 * size);
        unnamed.erase(unnamed.begin() + start + size, unnamed.begin() + start + 2 * size);
        if (criterion == 1) {
            Votes moved(n, std::vector<int>(n, 0));
            auto old = [&](int p) { return p < start + size ? p : p + size; };
            for (int p = 0; p < s.k(); ++p)
                for (int q = 0; q < s.k(); ++q)
                    if (!(p >= start && p < start + size) && !(q >= start && q < start + size))
                        moved[p][q] = s.V[old(p)][old(q)];
            s.V = moved;
            classifyTouching(s, start, start + size, +1);
            Votes current(s.k(), std::vector<int>(s.k()));
            for (int p = 0; p < s.k(); ++p)
                for (int q = 0; q < s.k(); ++q) current[p][q] = s.V[p][q];
            result.votesAfterUpdate.push_back(current);
        }
    }
    result.namedTree = named[0];
    result.unnamedTree = unnamed[0];
    return result;
}
