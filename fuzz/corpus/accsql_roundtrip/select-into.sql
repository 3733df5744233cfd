SELECT CustomerID, Sum(Amount) AS Total INTO CustTotals FROM Orders GROUP BY CustomerID
