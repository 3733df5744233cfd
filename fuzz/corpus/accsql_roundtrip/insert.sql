INSERT INTO Customers (CustomerID, CompanyName) VALUES ('ALFKI', 'Alfreds')
