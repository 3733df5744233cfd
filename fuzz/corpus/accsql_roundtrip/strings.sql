SELECT 'O''Malley', "Eat the ""food""", "O'Malley", 'say "hi"', '' FROM t
