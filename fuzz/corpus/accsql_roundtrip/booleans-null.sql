SELECT * FROM t WHERE Active = True OR Active = False OR x IS NULL OR y IS NOT NULL
