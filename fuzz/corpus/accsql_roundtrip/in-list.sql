SELECT * FROM t WHERE x NOT IN (1, 2, 3) AND y IN ('a', "b")
