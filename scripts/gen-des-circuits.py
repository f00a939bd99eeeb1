#!/usr/bin/env python3
"""Generates core/DesCircuits.inc: Boolean circuits for the eight DES S-boxes and the bitsliced rounds.

Usage: scripts/gen-des-circuits.py [OUTPUT]   (default: print to standard output)

Nothing but the standard's tables goes in (S-boxes, E, P, IP); the circuits are derived here:

* Two-input gates (AND, OR, XOR, ANDNOT, NOT), for 64-bit words and AVX2. Each output is expanded
  variable by variable as f = b ^ (s & d) or f = b ^ (~s & d), where b is one cofactor and d = f0 ^ f1
  (Shannon with the cofactors' difference, i.e. a Davio step); both children are built the same way,
  and every function already built for any output of the same S-box is reused (functions are compared
  as 64-entry truth tables, complements cost one NOT). Cheap special cases (a cofactor constant, or the
  cofactors complementary) take one gate. All 720 variable orders are tried; the smallest circuit wins.
* Three-input gates for AVX-512 (vpternlog with an 8-bit truth table as immediate): the two-input
  circuit above, and a second one made of 3-variable leaves under a tree of selects, are both put
  through a fusion pass that folds a gate used once into its user while at most three distinct inputs
  remain. The smaller result wins. The XOR of each output into the left half is part of the circuit,
  so it can fuse too.

The output is deterministic: regenerate and compare (the test suite does).
"""

import itertools
import sys

# FIPS 46-3 tables, 1-based bit numbers as printed there.
SBOXES = [
    [[14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7],
     [0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8],
     [4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0],
     [15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13]],
    [[15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10],
     [3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5],
     [0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15],
     [13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9]],
    [[10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8],
     [13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1],
     [13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7],
     [1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12]],
    [[7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15],
     [13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9],
     [10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4],
     [3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14]],
    [[2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9],
     [14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6],
     [4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14],
     [11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3]],
    [[12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11],
     [10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8],
     [9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6],
     [4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13]],
    [[4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1],
     [13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6],
     [1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2],
     [6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12]],
    [[13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7],
     [1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2],
     [7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8],
     [2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11]],
]
E = [32, 1, 2, 3, 4, 5, 4, 5, 6, 7, 8, 9, 8, 9, 10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
     16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1]
P = [16, 7, 20, 21, 29, 12, 28, 17, 1, 15, 23, 26, 5, 18, 31, 10,
     2, 8, 24, 14, 32, 27, 3, 9, 19, 13, 30, 6, 22, 11, 4, 25]
IP = [58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
      62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
      57, 49, 41, 33, 25, 17, 9, 1, 59, 51, 43, 35, 27, 19, 11, 3,
      61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7]

FULL = (1 << 64) - 1
# VAR[i]: truth table of input i (input i is S-box input bit i + 1, the most significant first), over
# the 64 inputs numbered by sum(bit_i << i).
VAR = [sum(1 << n for n in range(64) if (n >> i) & 1) for i in range(6)]


def sbox_outputs(box):
    """The four output truth tables of an S-box, output 0 the most significant bit."""
    outs = [0, 0, 0, 0]
    for n in range(64):
        bits = [(n >> i) & 1 for i in range(6)]
        row = bits[0] * 2 + bits[5]
        col = bits[1] * 8 + bits[2] * 4 + bits[3] * 2 + bits[4]
        value = SBOXES[box][row][col]
        for k in range(4):
            if (value >> (3 - k)) & 1:
                outs[k] |= 1 << n
    return outs


def cofactors(f, v):
    """f with input v fixed to 0 and to 1, both as tables that no longer depend on v."""
    s = 1 << v
    lo = f & ~VAR[v] & FULL
    hi = f & VAR[v]
    return lo | (lo << s), hi | (hi >> s)


class Circuit:
    """Gates over named inputs; every node carries its truth table over the six S-box inputs."""

    def __init__(self):
        self.gates = []  # (op, operand node ids); ids 0..5 are the inputs
        self.table = list(VAR)
        self.by_table = {t: i for i, t in enumerate(VAR)}

    def add(self, op, args, table):
        if table in self.by_table:
            return self.by_table[table]
        self.gates.append((op, tuple(args)))
        node = 5 + len(self.gates)
        self.table.append(table)
        self.by_table[table] = node
        return node

    def size(self):
        return len(self.gates)


def tree_cost(f, order, depth, memo):
    """Gates of f built alone (an upper bound), from input order[depth] on."""
    key = (f, depth)
    if key in memo:
        return memo[key]
    if f in (0, FULL) or f in VAR or (FULL ^ f) in VAR:
        cost = 0 if f in VAR else 1
    else:
        v = order[depth]
        f0, f1 = cofactors(f, v)
        if f0 == f1:
            cost = tree_cost(f0, order, depth + 1, memo)
        elif f0 in (0, FULL) or f1 in (0, FULL) or f1 == FULL ^ f0:
            other = f1 if f0 in (0, FULL) else f0
            cost = 1 + tree_cost(other, order, depth + 1, memo)
        else:
            d = f0 ^ f1
            cost = 2 + tree_cost(d, order, depth + 1, memo) + min(
                tree_cost(f0, order, depth + 1, memo), tree_cost(f1, order, depth + 1, memo))
    memo[key] = cost
    return cost


def build(c, f, order, depth, memo):
    """A node computing f in circuit c, reusing what c already has."""
    if f in c.by_table:
        return c.by_table[f]
    if (FULL ^ f) in c.by_table:
        return c.add("not", [c.by_table[FULL ^ f]], f)
    v = order[depth]
    f0, f1 = cofactors(f, v)
    if f0 == f1:
        return build(c, f0, order, depth + 1, memo)
    s = v
    if f1 == FULL ^ f0:
        return c.add("xor", [s, build(c, f0, order, depth + 1, memo)], f)
    if f0 == 0:
        return c.add("and", [s, build(c, f1, order, depth + 1, memo)], f)
    if f1 == 0:
        return c.add("andnot", [s, build(c, f0, order, depth + 1, memo)], f)  # ~s & f0
    if f1 == FULL:
        return c.add("or", [s, build(c, f0, order, depth + 1, memo)], f)
    if f0 == FULL:
        # ~s | f1 = ~(s & ~f1)
        inner = c.add("andnot", [build(c, f1, order, depth + 1, memo), s], VAR[s] & ~f1 & FULL)
        return c.add("not", [inner], f)

    def cost(g):
        if g in c.by_table:
            return 0
        if (FULL ^ g) in c.by_table:
            return 1
        return tree_cost(g, order, depth + 1, memo)

    d = f0 ^ f1
    if cost(f0) <= cost(f1):
        base = build(c, f0, order, depth + 1, memo)
        diff = build(c, d, order, depth + 1, memo)
        masked = c.add("and", [s, diff], VAR[s] & d)
    else:
        base = build(c, f1, order, depth + 1, memo)
        diff = build(c, d, order, depth + 1, memo)
        masked = c.add("andnot", [s, diff], ~VAR[s] & d & FULL)
    return c.add("xor", [base, masked], f)


def prune(c, nodes):
    """The circuit without gates that no output needs (a path tried and then not taken)."""
    needed = set(nodes)
    for k in range(len(c.gates) - 1, -1, -1):
        if 6 + k in needed:
            needed.update(c.gates[k][1])
    out = Circuit()
    ids = {i: i for i in range(6)}
    for k, (op, args) in enumerate(c.gates):
        if 6 + k in needed:
            out.gates.append((op, tuple(ids[a] for a in args)))
            ids[6 + k] = 5 + len(out.gates)
            out.table.append(c.table[6 + k])
    return out, [ids[n] for n in nodes]


def binary_circuit(outs):
    """The smallest two-input circuit over all variable orders, and the output nodes."""
    best = None
    for order in itertools.permutations(range(6)):
        c = Circuit()
        memo = {}
        nodes = [build(c, f, order, 0, memo) for f in outs]
        c, nodes = prune(c, nodes)
        if best is None or c.size() < best[0].size():
            best = (c, nodes)
    return best


OPS2 = {
    "and": lambda a, b: a & b,
    "or": lambda a, b: a | b,
    "xor": lambda a, b: a ^ b,
    "andnot": lambda a, b: (1 - a) & b,
}


class TernaryCircuit:
    """Gates of up to three operands, each with an 8-bit truth table (operand 0 the most significant
    index bit, as vpternlog reads its immediate; a gate of fewer operands ignores the missing ones). Nodes 0..5 are the S-box inputs, 6..9 the left-half
    words the outputs are XORed into."""

    def __init__(self):
        self.gates = []  # (imm, operands, op name of a plain two-input gate or None)

    def add(self, imm, args, op=None):
        self.gates.append((imm, tuple(args), op))
        return 9 + len(self.gates)


def imm_of(func, arity):
    imm = 0
    for n in range(8):
        bits = [(n >> 2) & 1, (n >> 1) & 1, n & 1][:arity]
        if func(*bits):
            imm |= 1 << n
    return imm


def to_ternary(c, outs):
    """The two-input circuit with the XORs into the left half appended, as generic gates."""
    t = TernaryCircuit()
    ids = {i: i for i in range(6)}
    for k, (op, args) in enumerate(c.gates):
        node = 6 + k
        if op == "not":
            ids[node] = t.add(imm_of(lambda a: 1 - a, 1), [ids[args[0]]], "not")
        else:
            fn = OPS2[op]
            ids[node] = t.add(imm_of(fn, 2), [ids[a] for a in args], op)
    results = []
    for k, o in enumerate(outs):
        results.append(t.add(imm_of(lambda a, b: a ^ b, 2), [6 + k, ids[o]], "xor"))
    return t, results


def mux_circuit(outs):
    """Leaves over three inputs under a tree of selects over the other three: one vpternlog per node.
    The best split and order of the select inputs wins."""
    best = None
    for sel in itertools.permutations(range(6), 3):
        leaf_vars = [v for v in range(6) if v not in sel]
        t = TernaryCircuit()
        cache = {}

        def node(f, depth):
            if f in cache:
                return cache[f]
            for i in range(6):
                if f == VAR[i]:
                    return i
            if depth == 3:
                a, b, cc = leaf_vars
                imm = 0
                for n in range(8):
                    x = {a: (n >> 2) & 1, b: (n >> 1) & 1, cc: n & 1}
                    index = sum(x[v] << v for v in leaf_vars)
                    if (f >> index) & 1:
                        imm |= 1 << n
                result = t.add(imm, [a, b, cc])
            else:
                f0, f1 = cofactors(f, sel[depth])
                if f0 == f1:
                    result = node(f0, depth + 1)
                else:
                    n0 = node(f0, depth + 1)
                    n1 = node(f1, depth + 1)
                    # s ? n1 : n0
                    result = t.add(imm_of(lambda s, x1, x0: x1 if s else x0, 3), [sel[depth], n1, n0])
            cache[f] = result
            return result

        out_nodes = [node(f, 0) for f in outs]
        results = [t.add(imm_of(lambda a, b: a ^ b, 2), [6 + k, o], "xor") for k, o in enumerate(out_nodes)]
        if best is None or len(t.gates) < len(best[0].gates):
            best = (t, results)
    return best


SUPPORT = {}


def support(f):
    """The inputs f depends on."""
    if f not in SUPPORT:
        SUPPORT[f] = [v for v in range(6) if len(set(cofactors(f, v))) == 2]
    return SUPPORT[f]


def ternary_cost(f, order, memo):
    """Three-input gates of f built alone (an upper bound)."""
    if f in memo:
        return memo[f]
    sup = support(f)
    if f in VAR:
        cost = 0
    elif len(sup) <= 3:
        cost = 1
    else:
        v = next(x for x in order if x in sup)
        f0, f1 = cofactors(f, v)
        d = f0 ^ f1
        cost = 1 + min(ternary_cost(f0, order, memo) + ternary_cost(f1, order, memo),
                       ternary_cost(f0, order, memo) + ternary_cost(d, order, memo),
                       ternary_cost(f1, order, memo) + ternary_cost(d, order, memo))
    memo[f] = cost
    return cost


def direct_ternary(outs):
    """Three-input gates straight from the outputs: a function of at most three inputs is one gate; a larger
    one is split on the first input of the order in its support into one gate over that input and two
    smaller functions: the cofactors (a select), or one cofactor and their difference (f0 ^ (x & d), or
    f1 ^ (~x & d)), whichever two the circuit has already or are cheaper. A function whose complement is
    built already costs nothing as an operand: the immediate inverts it. The best of all orders wins."""
    best = None
    for order in itertools.permutations(range(6)):
        t = TernaryCircuit()
        pool = {VAR[i]: i for i in range(6)}
        memo = {}

        def operand(g):
            """(node, inverted) for a table the pool holds in either polarity, else None."""
            if g in pool:
                return pool[g], False
            if (FULL ^ g) in pool:
                return pool[FULL ^ g], True
            return None

        def cost(g):
            return 0 if operand(g) is not None else ternary_cost(g, order, memo)

        def gate(f, operands):
            """A gate computing f from operands given as (node, inverted, table)."""
            nodes = [n for n, _, _ in operands]
            values = {}
            for x in range(64):
                n = 0
                for i, (_, inv, tbl) in enumerate(operands):
                    n |= (((tbl >> x) & 1) ^ inv) << (2 - i)
                values.setdefault(n, (f >> x) & 1)
                assert values[n] == (f >> x) & 1
            # A missing operand is ignored (the emitted code repeats the first operand there); combinations
            # of the operands that no input reaches get any value.
            unused = (1 << (3 - len(operands))) - 1
            fallback = values[min(values)]
            imm = 0
            for n in range(8):
                if values.get(n & ~unused, fallback):
                    imm |= 1 << n
            node = t.add(imm, nodes)
            pool[f] = node
            return node

        def build(f):
            found = operand(f)
            if found is not None and not found[1]:
                return found[0], False
            if found is not None:
                return found
            sup = support(f)
            if len(sup) <= 3:
                ops = [(v, False, VAR[v]) for v in sup] or [(0, False, VAR[0])]
                return gate(f, ops), False
            v = next(x for x in order if x in sup)
            f0, f1 = cofactors(f, v)
            d = f0 ^ f1
            choices = [(cost(f1) + cost(f0), f1, f0), (cost(f0) + cost(d), f0, d), (cost(f1) + cost(d), f1, d)]
            _, g, h = min(choices, key=lambda c: c[0])
            gn, gi = build(g)
            hn, hi = build(h)
            return gate(f, [(v, False, VAR[v]), (gn, gi, g), (hn, hi, h)]), False

        out_nodes = []
        for f in outs:
            node, inverted = build(f)
            out_nodes.append((node, inverted))
        results = []
        for k, (node, inverted) in enumerate(out_nodes):
            imm = imm_of((lambda a, b: a ^ b ^ 1) if inverted else (lambda a, b: a ^ b), 2)
            results.append(t.add(imm, [6 + k, node], None if inverted else "xor"))
        if best is None or len(t.gates) < len(best[0].gates):
            best = (t, results)
    return best


def fuse(t, results):
    """Folds a gate used exactly once into its user while the user keeps at most three operands."""
    gates = [list(g) for g in t.gates]
    alive = [True] * len(gates)
    changed = True
    while changed:
        changed = False
        uses = {}
        for k, g in enumerate(gates):
            if alive[k]:
                for a in g[1]:
                    uses[a] = uses.get(a, 0) + 1
        for r in results:
            uses[r] = uses.get(r, 0) + 1
        for k, g in enumerate(gates):
            if not alive[k]:
                continue
            imm, args, _ = g
            for pos, a in enumerate(args):
                if a < 10 or uses.get(a, 0) != 1:
                    continue
                inner = gates[a - 10]
                merged = list(dict.fromkeys([x for x in args if x != a] + list(inner[1])))
                if len(merged) > 3 or a in merged:
                    continue

                def evaluate(values, gi=g, inner=inner, pos=pos):
                    inner_val = lookup(inner[0], [values[x] for x in inner[1]])
                    outer_in = [inner_val if i == pos else values[x] for i, x in enumerate(gi[1])]
                    return lookup(gi[0], outer_in)

                new_imm = 0
                for n in range(8):
                    bits = [(n >> 2) & 1, (n >> 1) & 1, n & 1]
                    if evaluate(dict(zip(merged, bits))):
                        new_imm |= 1 << n
                gates[k] = [new_imm, tuple(merged), None]
                alive[a - 10] = False
                changed = True
                break
            if changed:
                break
    # Renumber the living gates.
    out = TernaryCircuit()
    ids = {i: i for i in range(10)}
    for k, g in enumerate(gates):
        if alive[k]:
            ids[10 + k] = out.add(g[0], [ids[a] for a in g[1]], g[2])
    return out, [ids[r] for r in results]


def lookup(imm, bits):
    """Value of a gate with truth table imm on its operands (operand 0 the most significant index bit)."""
    padded = list(bits) + [0] * (3 - len(bits))
    return (imm >> (padded[0] << 2 | padded[1] << 1 | padded[2])) & 1


def check_binary(c, nodes, outs):
    for f, node in zip(outs, nodes):
        assert c.table[node] == f


def emitted(gate, values):
    """A gate's value as the emitted code computes it: a missing operand repeats the first."""
    args = list(gate[1]) + [gate[1][0]] * (3 - len(gate[1]))
    return lookup(gate[0], [values[a] for a in args])


def check_ternary(t, results, outs):
    for n in range(64):
        for lbits in range(16):
            values = {i: (n >> i) & 1 for i in range(6)}
            for k in range(4):
                values[6 + k] = (lbits >> k) & 1
            for k, g in enumerate(t.gates):
                values[10 + k] = emitted(g, values)
            for k, r in enumerate(results):
                assert values[r] == values[6 + k] ^ ((outs[k] >> n) & 1)


def verify_ternary_fully(t, results, outs):
    for n in range(64):
        values = {i: (n >> i) & 1 for i in range(6)}
        for k in range(4):
            values[6 + k] = 0
        for k, g in enumerate(t.gates):
            values[10 + k] = emitted(g, values)
        for k, r in enumerate(results):
            assert values[r] == (outs[k] >> n) & 1


def emit_binary(lines, box, c, nodes):
    lines.append("template <class O>")
    lines.append("static BRASKO_DES_INLINE void Sbox%d(typename O::V a0, typename O::V a1, typename O::V a2, "
                 "typename O::V a3, typename O::V a4, typename O::V a5, typename O::V& l0, "
                 "typename O::V& l1, typename O::V& l2, typename O::V& l3)" % (box + 1))
    lines.append("{")
    names = {i: "a%d" % i for i in range(6)}
    fn = {"and": "And", "or": "Or", "xor": "Xor", "andnot": "AndNot", "not": "Not"}
    for k, (op, args) in enumerate(c.gates):
        node = 6 + k
        names[node] = "t%d" % node
        lines.append("    const typename O::V t%d = O::%s(%s);" % (node, fn[op], ", ".join(names[a] for a in args)))
    for k, node in enumerate(nodes):
        lines.append("    l%d = O::Xor(l%d, %s);" % (k, k, names[node]))
    lines.append("}")
    lines.append("")


def emit_ternary(lines, box, t, results):
    lines.append("template <class O>")
    lines.append("static BRASKO_DES_INLINE void Sbox%d(typename O::V a0, typename O::V a1, typename O::V a2, "
                 "typename O::V a3, typename O::V a4, typename O::V a5, typename O::V& l0, "
                 "typename O::V& l1, typename O::V& l2, typename O::V& l3)" % (box + 1))
    lines.append("{")
    names = {i: "a%d" % i for i in range(6)}
    for k in range(4):
        names[6 + k] = "l%d" % k
    fn = {"and": "And", "or": "Or", "xor": "Xor", "andnot": "AndNot", "not": "Not"}
    result_index = {r: k for k, r in enumerate(results)}
    for k, (imm, args, op) in enumerate(t.gates):
        node = 10 + k
        if op is not None:
            expr = "O::%s(%s)" % (fn[op], ", ".join(names[a] for a in args))
        else:
            operands = [names[a] for a in args]
            # An operand the immediate ignores repeats the first.
            while len(operands) < 3:
                operands.append(operands[0])
            expr = "O::template Tern<0x%02x>(%s)" % (imm, ", ".join(operands))
        if node in result_index:
            lines.append("    l%d = %s;" % (result_index[node], expr))
            names[node] = "l%d" % result_index[node]
        else:
            names[node] = "t%d" % node
            lines.append("    const typename O::V t%d = %s;" % (node, expr))
    lines.append("}")
    lines.append("")


def slice_of_bit(n):
    """The slice holding DES bit n (1-based, bit 1 the most significant of the first byte): bit n of a
    block loaded as a little-endian 64-bit word is at 8 * byte + (7 - bit in byte)."""
    return 8 * ((n - 1) // 8) + 7 - (n - 1) % 8


def emit_rounds(lines):
    left = [slice_of_bit(IP[i]) for i in range(32)]
    right = [slice_of_bit(IP[32 + i]) for i in range(32)]
    pinv = [0] * 32
    for i, p in enumerate(P):
        pinv[p - 1] = i
    for name, dst, src in (("RoundA", left, right), ("RoundB", right, left)):
        lines.append("// %s: one Feistel round that XORs f(%s half, round key) into the %s half." %
                     (name, "right" if name == "RoundA" else "left", "left" if name == "RoundA" else "right"))
        lines.append("template <class S, class O>")
        lines.append("BRASKO_DES_INLINE void %s(typename O::V* x, const std::uint64_t* k)" % name)
        lines.append("{")
        for box in range(8):
            ins = ["O::Xor(x[%d], O::Key(k[%d]))" % (src[E[6 * box + t] - 1], 6 * box + t) for t in range(6)]
            outs = ["x[%d]" % dst[pinv[4 * box + t]] for t in range(4)]
            lines.append("    S::template Sbox%d<O>(%s,\n                           %s);" %
                         (box + 1, ", ".join(ins), ", ".join(outs)))
        lines.append("}")
        lines.append("")
    # After an odd number of DES operations the halves stand as (right, left) = (B, A), and the final
    # permutation is the inverse of IP.
    fp = [0] * 64
    for i, ip in enumerate(IP):
        fp[ip - 1] = i + 1
    out = [0] * 64
    for k in range(1, 65):
        m = fp[k - 1]  # pre-output bit
        src = right[m - 1] if m <= 32 else left[m - 33]
        out[slice_of_bit(k)] = src
    lines.append("// kOutputSlice[q]: the slice that holds bit q (little-endian word order) of the output blocks.")
    lines.append("inline constexpr std::array<std::uint8_t, 64> kOutputSlice = {")
    for i in range(0, 64, 16):
        lines.append("    " + ", ".join(str(v) for v in out[i:i + 16]) + ",")
    lines.append("};")
    lines.append("")


def main():
    lines = [
        "// Generated by scripts/gen-des-circuits.py from the DES tables; do not edit. Regenerate with",
        "//   scripts/gen-des-circuits.py core/DesCircuits.inc",
        "// Included inside a namespace of the file that uses it, after BRASKO_DES_INLINE, <array> and <cstdint>.",
        "",
    ]
    binary = []
    ternary = []
    counts = []
    for box in range(8):
        outs = sbox_outputs(box)
        c, nodes = binary_circuit(outs)
        check_binary(c, nodes, outs)
        binary.append((c, nodes))
        t2, r2 = fuse(*to_ternary(c, nodes))
        t3, r3 = fuse(*mux_circuit(outs))
        t4, r4 = fuse(*direct_ternary(outs))
        t, r = min([(t2, r2), (t3, r3), (t4, r4)], key=lambda c: len(c[0].gates))
        check_ternary(t, r, outs)
        verify_ternary_fully(t, r, outs)
        ternary.append((t, r))
        counts.append((c.size() + 4, len(t.gates)))
    lines.append("// Gates per S-box including the four XORs into the left half (two-input / three-input):")
    lines.append("// " + ", ".join("S%d %d/%d" % (i + 1, a, b) for i, (a, b) in enumerate(counts)))
    lines.append("")
    lines.append("// S-boxes from two-input gates: And, Or, Xor, AndNot(a, b) = ~a & b, Not.")
    lines.append("struct SBinarySboxes")
    lines.append("{")
    body = []
    for box, (c, nodes) in enumerate(binary):
        emit_binary(body, box, c, nodes)
    lines.extend(("    " + l) if l else "" for l in body)
    lines.append("};")
    lines.append("")
    lines.append("// S-boxes from three-input gates: Tern<imm>(a, b, c) is bit (a << 2 | b << 1 | c) of imm.")
    lines.append("struct STernarySboxes")
    lines.append("{")
    body = []
    for box, (t, r) in enumerate(ternary):
        emit_ternary(body, box, t, r)
    lines.extend(("    " + l) if l else "" for l in body)
    lines.append("};")
    lines.append("")
    emit_rounds(lines)
    text = "\n".join(lines).rstrip("\n") + "\n"
    if len(sys.argv) > 1:
        with open(sys.argv[1], "w", encoding="ascii") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
