#pragma once

// The AVX-512 operations of the bitsliced kernels (see BitslicedDes.h), shared by DesKernelAvx512.cpp and
// DesKernelAvx512Gfni.cpp: each includes this inside its unnamed namespace, after its target pragma.
struct SOpsAvx512
{
    using V = __m512i;
    static constexpr std::size_t kLanes = 8;
    static V Load(const unsigned char* p) { return _mm512_loadu_si512(p); }
    static void Store(unsigned char* p, V v) { _mm512_storeu_si512(p, v); }
    static V Key(std::uint64_t mask) { return _mm512_set1_epi64(static_cast<long long>(mask)); }
    static V And(V a, V b) { return _mm512_and_si512(a, b); }
    static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    static V Xor(V a, V b) { return _mm512_xor_epi64(a, b); }
    static V Not(V a) { return _mm512_ternarylogic_epi64(a, a, a, 0x0f); }
    static V AndNot(V a, V b) { return _mm512_ternarylogic_epi64(a, b, b, 0x0c); } // ~a & b
    template <unsigned kImm> static V Tern(V a, V b, V c) { return _mm512_ternarylogic_epi64(a, b, c, kImm); }
    template <unsigned kShift> static V ShiftLeft(V a) { return _mm512_slli_epi64(a, kShift); }
    template <unsigned kShift> static V ShiftRight(V a) { return _mm512_srli_epi64(a, kShift); }
    // The value in a register: the compiler may not fold its load into each instruction that uses it.
    static V Hold(V v)
    {
        asm("" : "+v"(v));
        return v;
    }
};
