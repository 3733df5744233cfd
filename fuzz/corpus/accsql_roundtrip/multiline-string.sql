SELECT 'multi
line' FROM t
