SELECT a Imp b, a Eqv b, a Xor b, Not a, a BAND 4, a BOR 1, a BXOR 2, BNOT a FROM t
