where sNumero = 'x -- y' /* note */ and sSito = 'MI'
-- end