SELECT 'multi
line' & [Company Name] FROM Customers