SELECT t.*, u.x FROM t, u WHERE t.k = u.k
