TRANSFORM Sum(od.Quantity) AS Total
SELECT p.ProductName, Sum(od.Quantity) AS [All Quarters]
FROM Products AS p INNER JOIN [Order Details] AS od ON p.ProductID = od.ProductID
WHERE Year(od.OrderDate) = 1997
GROUP BY p.ProductName
ORDER BY p.ProductName
PIVOT "Q" & DatePart("q", od.OrderDate) IN ("Q1", "Q2", "Q3", "Q4");
