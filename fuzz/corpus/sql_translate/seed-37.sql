TRANSFORM Sum(o.Quantity) AS Total
SELECT p.[Product Name], Sum(o.Quantity) AS [All Quarters]
FROM Products AS p INNER JOIN [Order Lines] AS o ON p.ProductID = o.ProductID
WHERE Year(o.[Order Date]) = 2025
GROUP BY p.[Product Name]
ORDER BY p.[Product Name]
PIVOT "Q" & DatePart("q", o.[Order Date]) IN ("Q1", "Q2", "Q3", "Q4");