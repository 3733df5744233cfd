SELECT Year(d), Month(d), Sum(x) FROM t GROUP BY Year(d), Month(d) ORDER BY 1, 2 DESC
